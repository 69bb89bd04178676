// Whole-policy commands: the boot loads, the tardisk step and the display.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "cli/secpolicy/commands.h"
#include "secpolicy/admin/json_display.h"
#include "secpolicy/admin/kernel_rules.h"
#include "hostsim/admin.h"
#include "secpolicy/load/policy_load.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/policytext/messages.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/tardisks/default_tardisk_policy.h"

namespace SecPolicyCli {

using SecPolicy::Admin::ReadDomain;

using HyxCtl::Security::HyxAccessInterfaceImpl;

namespace {

// The library shows nothing for an id that holds no domain, and reads a
// name as the id 0; a person at a terminal is told why.
void NoteUnshownDomain(const std::string& argument) {
  if (argument.empty()) return;
  if (!std::all_of(argument.begin(), argument.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    std::cerr << "Note: display takes a domain id: use 'secpolicy domain id NAME'" << std::endl;
    return;
  }
  // The id as the library reads it: strtol, then the low 32 bits.
  const auto id = static_cast<std::uint32_t>(std::strtol(argument.c_str(), nullptr, 10));
  HyxAccessInterfaceImpl iface;
  if (!ReadDomain(iface, id)) std::cerr << "Note: no domain with id " << id << std::endl;
}

}  // namespace

void AddLoadCommands(CLI::App& app, int& status) {
  auto loadDir = std::make_shared<std::string>(SecPolicy::DefaultPolicyDir);
  auto* load = app.add_subcommand(
      "load",
      "Apply the whole policy of DIR: objects, template domain, domains, plug-in domains,\n"
      "special domains, tardisks (always from the default directory), file labels.");
  load->add_option("DIR", *loadDir, "Policy directory")->capture_default_str();
  load->callback([&status, loadDir] { status = Run([&] { const HostSim::WriterLock writerLock; SecPolicy::LoadPolicy(*loadDir); }); });

  auto earlyDir = std::make_shared<std::string>();
  auto* early = app.add_subcommand(
      "load-early",
      "Early-boot load: objects and file labels of the default directory, domains of DIR;\n"
      "stops at the first failure, which is reported but does not fail the command.");
  early->add_option("DIR", *earlyDir, "Early policy directory (its domains sub-directory)")
      ->required();
  early->callback(
      [&status, earlyDir] { status = Run([&] { const HostSim::WriterLock writerLock; SecPolicy::LoadPolicyEarly(*earlyDir); }); });

  auto tardisksDir = std::make_shared<std::string>();
  auto* tardisks = app.add_subcommand(
      "load-tardisks",
      "Look up and store the special domains as a full load does (ending with an error\n"
      "when one is missing), then apply the tardisk policy files of DIR to their tardisks\n"
      "and the default tardisk policy to every other tardisk under /tardisks/ (to none\n"
      "when DIR does not exist).");
  tardisks->add_option("DIR", *tardisksDir, "Tardisk policy directory")->required();
  tardisks->callback([&status, tardisksDir] {
    status = Run([&] {
      const HostSim::WriterLock writerLock;
      HyxAccessInterfaceImpl iface;
      // The default rules name the default tardisk domain by the id the
      // lookup stores; a process of its own has no id stored before it.
      SecPolicy::LookUpSpecialDomains(iface);
      SecPolicy::LoadPolicyTardisks(*tardisksDir, iface);
    });
  });

  auto domainId = std::make_shared<std::string>();
  auto json = std::make_shared<bool>(false);
  auto* display = app.add_subcommand(
      "display", "Print the policy held by the kernel: domains, objects, tardisk labels.");
  display->add_option("ID", *domainId,
      "Show only the domain with this id, read by the library as decimal digits (no 0x)");
  display->add_flag("--json", *json, "Print it as one JSON document (schema in secpolicy(8))");
  display->callback([&status, domainId, json] {
    status = Run([&] {
      if (*json) {
        std::cout << SecPolicy::Admin::DisplayJson(*domainId, SecPolicy::SecpolicyError)
                  << std::flush;
      } else {
        SecPolicy::DisplayPolicy(*domainId);
      }
      NoteUnshownDomain(*domainId);
    });
  });
}

}  // namespace SecPolicyCli
