// hostsim: sets up, inspects and breaks the simulated host.
// Exit status: 0 success, 1 when the operation fails ("Error: <text>" on
// standard error), 2 for a usage error; `run` exits 127 when the command
// cannot be found and 126 when it cannot be executed, as shells do.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/numbers.h"
#include "cli/common/terminal_text.h"
#include "cli/common/tool_main.h"
#include "hostsim/admin.h"

namespace {

constexpr const char* kFooter =
    "Environment:\n"
    "  HOSTSIM_STATE   path of the simulated host's state database, made by\n"
    "                  'hostsim init' (default for root /var/lib/hostsim/state.db,\n"
    "                  for others $XDG_STATE_HOME/hostsim/state.db, else\n"
    "                  ~/.local/state/hostsim/state.db)\n"
    "  HOSTSIM_SYSLOG  up|down: what SyslogIsRunning answers (default: probe /dev/log)\n";

int Hostsim(int argc, char** argv) {
  CLI::App app{"hostsim: set up, inspect and break the simulated host", "hostsim"};
  app.footer(kFooter);
  app.require_subcommand(1);
  std::function<void()> action;
  int status = 0;
  using CliCommon::Number;

  auto* init = app.add_subcommand(
      "init", "Create a fresh state (replaces a state; any other file only with --force)");
  std::string profile;
  bool force = false;
  init->add_option("--profile", profile, "Host profile (JSON, at most 16 MiB); default: the built-in profile")
      ->check(CLI::ExistingFile);
  init->add_flag("--force", force, "Replace a file that is not a simulated host's state");
  init->callback([&] { action = [&] { HostSim::Init(profile, force); }; });

  auto* reboot = app.add_subcommand(
      "reboot", "Boot the host again: the kernel holds only what the profile predefines");
  reboot->callback([&] {
    action = [] {
      const HostSim::WriterLock lock;
      HostSim::Reboot();
    };
  });

  auto* log = app.add_subcommand("log", "Print the kernel log, oldest first: tag, space, text");
  log->callback([&] {
    action = [] {
      for (const auto& line : HostSim::KernelLog()) {
        std::cout << CliCommon::EscapeControls(line.tag) << ' ' << CliCommon::EscapeControls(line.text) << '\n';
      }
    };
  });

  auto* journal = app.add_subcommand("journal", "Print the journal of accepted kernel writes");
  journal->callback([&] {
    action = [] {
      for (const auto& line : HostSim::Journal()) std::cout << CliCommon::EscapeControls(line) << '\n';
    };
  });

  auto* option = app.add_subcommand("option", "Set or remove an advanced option");
  option->require_subcommand(1);
  std::string optionPath, optionText;
  std::int32_t optionValue = 0;
  auto* optionSet = option->add_subcommand("set", "Set an integer option");
  optionSet->add_option("PATH", optionPath, "Option path")->required();
  optionSet->add_option("INT", optionValue, "Value")
      ->required()
      ->transform(Number("a 32-bit integer", CliCommon::kInt32Min, CliCommon::kInt32Max));
  optionSet->callback([&] { action = [&] { HostSim::SetIntegerOption(optionPath, optionValue); }; });
  auto* optionString = option->add_subcommand("set-string", "Set a string option");
  optionString->add_option("PATH", optionPath, "Option path")->required();
  optionString->add_option("TEXT", optionText, "Value")->required();
  optionString->callback([&] { action = [&] { HostSim::SetStringOption(optionPath, optionText); }; });
  auto* optionUnset = option->add_subcommand("unset", "Remove an option");
  optionUnset->add_option("PATH", optionPath, "Option path")->required();
  optionUnset->callback([&] { action = [&] { HostSim::UnsetOption(optionPath); }; });

  auto* config = app.add_subcommand("config", "Domain settings of the configuration store");
  config->require_subcommand(1);
  std::string configDomain, configKey, configValue;
  auto* configSet = config->add_subcommand("set", "Set a value of a domain's settings");
  configSet->add_option("DOMAIN", configDomain, "Domain name")->required();
  configSet->add_option("KEY", configKey, "Key, for example enforcement_level")->required();
  configSet->add_option("VALUE", configValue, "Value")->required();
  configSet->callback(
      [&] { action = [&] { HostSim::SetConfigValue(configDomain, configKey, configValue); }; });
  auto* bootStatus = config->add_subcommand("boot-status", "Print a domain's boot status (true|false)");
  bootStatus->add_option("DOMAIN", configDomain, "Domain name")->required();
  bootStatus->callback([&] {
    action = [&] { std::cout << (HostSim::GetBootStatus(configDomain) ? "true" : "false") << '\n'; };
  });

  auto* world = app.add_subcommand("world", "Worlds (running processes) of the simulated host");
  world->require_subcommand(1);
  int worldId = 0;
  std::uint32_t worldDomain = 0;
  auto* worldAdd = world->add_subcommand("add", "Run a world in a domain");
  worldAdd->add_option("WORLD", worldId, "World id")
      ->required()
      ->transform(Number("a world id", CliCommon::kInt32Min, CliCommon::kInt32Max));
  worldAdd->add_option("DOMAINID", worldDomain, "Domain id")
      ->required()
      ->transform(Number("a domain id", 0, CliCommon::kUint32Max));
  worldAdd->callback([&] { action = [&] { HostSim::AddWorld(worldId, worldDomain); }; });

  auto* tardisk = app.add_subcommand("tardisk", "Tardisks of the in-memory root file system");
  tardisk->require_subcommand(1);
  std::string tardiskFile, tardiskName;
  auto* tardiskMap = tardisk->add_subcommand("map", "Name the tardisk that provides FILE's inode");
  tardiskMap->add_option("FILE", tardiskFile, "File")->required();
  tardiskMap->add_option("NAME", tardiskName, "Tardisk name (no folder)")->required();
  tardiskMap->callback([&] { action = [&] { HostSim::MapTardisk(tardiskFile, tardiskName); }; });

  auto* labelInit = app.add_subcommand("label-init", "Give files the initial label a new file gets");
  bool recursive = false;
  std::vector<std::string> labelPaths;
  labelInit->add_flag("--recursive,-r", recursive, "Whole trees, not following symbolic links");
  labelInit->add_option("PATH", labelPaths, "Files or folders")->required();
  labelInit->callback([&] {
    action = [&] {
      for (const auto& path : labelPaths) HostSim::InitFileLabel(path, recursive);
    };
  });

  auto* label = app.add_subcommand("label", "Kernel labels");
  label->require_subcommand(1);
  std::string labelName;
  bool domainLabel = false;
  auto* invalidate = label->add_subcommand("invalidate", "Mark a label as invalid");
  invalidate->add_option("NAME", labelName, "Label name")->required();
  invalidate->add_flag("--domain", domainLabel, "A domain label (default: an object label)");
  invalidate->callback([&] {
    action = [&] {
      HostSim::InvalidateLabel(labelName, domainLabel ? HYXACCESS_LABEL_DOMAIN : HYXACCESS_LABEL_OBJECT);
    };
  });

  auto* fail = app.add_subcommand(
      "fail",
      "Make an operation fail (\"fail clear\" removes every fault). Without --errno or "
      "--status it is the control-library operation of that name, which throws the message; "
      "with either, the kernel call of that name, which returns them.");
  std::string failOperation, failMessage = "simulated failure", failMatch;
  std::optional<int> failErrno, failTimes;
  std::optional<std::uint32_t> failStatus;
  bool failList = false;
  fail->add_option("OPERATION", failOperation, "Operation or kernel call name, or clear");
  fail->add_flag("--list", failList, "Print every operation name a fault can target");
  fail->add_option("--message", failMessage, "Text of the thrown exception");
  fail->add_option("--errno", failErrno, "Error number of the kernel call (default EPERM)")
      ->transform(Number("an error number", 1, 4095));
  fail->add_option("--status", failStatus, "Status of the kernel call, not 0 (default 0xBAD0001)")
      ->transform(Number("a 32-bit status", 1, CliCommon::kUint32Max));
  fail->add_option("--match", failMatch, "Only calls with an argument equal to this text");
  fail->add_option("--times", failTimes, "Only the next N matching calls")
      ->transform(Number("a count", 1, CliCommon::kInt32Max));
  fail->callback([&] {
    if (failList) {
      action = [] {
        for (const auto& name : HostSim::FaultOperations()) std::cout << name << '\n';
      };
      return;
    }
    if (failOperation.empty()) throw CLI::RequiredError("OPERATION");
    HostSim::Fault fault;
    fault.operation = failOperation;
    fault.message = failMessage;
    fault.errnum = failErrno;
    fault.status = failStatus;
    if (!failMatch.empty()) fault.match = failMatch;
    fault.times = failTimes;
    if (fault.operation != "clear") {
      const auto names = HostSim::FaultOperations();
      if (!std::binary_search(names.begin(), names.end(), fault.operation)) {
        std::string text = "unknown operation \"" + CliCommon::EscapeControls(fault.operation) + "\"";
        const auto near = HostSim::NearestOperations(fault.operation);
        for (std::size_t i = 0; i < near.size(); ++i) text += (i == 0 ? "; nearest: " : ", ") + near[i];
        throw CLI::ValidationError("OPERATION", text + " (see hostsim fail --list)");
      }
    }
    action = [fault] {
      if (fault.operation == "clear") {
        HostSim::ClearFaults();
      } else {
        HostSim::AddFault(fault);
      }
    };
  });

  auto* run = app.add_subcommand(
      "run",
      "Run COMMAND where ROOT/etc/norvane stands at /etc/norvane and ROOT/tardisks at "
      "/tardisks (a private mount namespace; needs root or CAP_SYS_ADMIN)");
  std::string root;
  std::vector<std::string> command;
  run->add_option("--root", root, "Folder holding etc/norvane and tardisks")->required();
  run->add_option("COMMAND", command, "Command and its arguments, after --")->required();
  run->callback([&] {
    action = [&] {
      HostSim::EnterHostRoot(root);
      std::vector<char*> args;
      for (auto& word : command) args.push_back(word.data());
      args.push_back(nullptr);
      execvp(args[0], args.data());
      const int error = errno;
      std::cerr << "Error: cannot run " << CliCommon::EscapeControls(command[0]) << ": "
                << std::strerror(error) << std::endl;
      status = error == ENOENT || error == ENOTDIR ? 127 : 126;
    };
  });

  return CliCommon::ParseAndRun(app, argc, argv, [&] {
    if (action) action();
    return status;
  });
}

}  // namespace

int main(int argc, char** argv) { return CliCommon::ToolMain(argc, argv, Hostsim); }
