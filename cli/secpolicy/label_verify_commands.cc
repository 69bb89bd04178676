// label verify and label match: the answers of the admin library, printed.
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/terminal_text.h"
#include "cli/secpolicy/commands.h"
#include "secpolicy/admin/label_verify.h"
#include "cli/secpolicy/walk_flags.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/host_files.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicyCli {

namespace {

using CliCommon::EscapeControls;
using SecPolicy::Admin::Finding;
using SecPolicy::Admin::LabelDifference;
using SecPolicy::Admin::MappingSet;
using SecPolicy::Admin::VerifyResult;

std::string DefaultMappingDir() {
  return SecPolicy::DefaultPolicyDir + "/" + SecPolicy::FileLabelsDirName;
}

void PrintJson(const VerifyResult& result) {
  // Escaped as on a terminal, so that any name makes valid JSON.
  using json = nlohmann::ordered_json;
  json differences = json::array();
  for (const LabelDifference& d : result.differences) {
    differences.push_back({{"path", EscapeControls(d.path)},
                           {"current", d.current ? json(EscapeControls(*d.current)) : json(nullptr)},
                           {"wanted", EscapeControls(d.wanted)}});
  }
  json errors = json::array();
  for (const Finding& e : result.errors) {
    errors.push_back({{"path", EscapeControls(e.path)},
                      {"line", e.line ? json(*e.line) : json(nullptr)},
                      {"text", EscapeControls(e.text)}});
  }
  const json report{{"matched", result.matched},
                    {"differences", std::move(differences)},
                    {"errors", std::move(errors)}};
  std::cout << report.dump() << '\n';
}

// Prints the differences; 0 when every label matches, 1 when some differ,
// 3 when something could not be verified.
int Verify(const SecPolicy::Admin::VerifyOptions& options, bool json) {
  const VerifyResult result = SecPolicy::Admin::VerifyLabels(options, SecPolicy::SecpolicyError);
  if (json) {
    PrintJson(result);
  } else {
    for (const LabelDifference& d : result.differences) {
      std::cout << EscapeControls(d.path) << ": "
                << EscapeControls(d.current.value_or("(no label)")) << " -> "
                << EscapeControls(d.wanted) << '\n';
    }
  }
  std::cout.flush();
  if (!result.errors.empty()) return 3;
  return result.differences.empty() ? 0 : 1;
}

// Prints, for each path, the label and the mapping that gives it; 0 when
// every path has one, 1 otherwise.
int Match(const std::string& mappingDir, const std::vector<std::string>& paths) {
  SecPolicy::HyxAccessInterfaceImpl iface;
  MappingSet set;
  bool ok = set.Load(mappingDir, iface, SecPolicy::SecpolicyError).empty();
  for (const std::string& path : paths) {
    try {
      const std::optional<std::size_t> winner = set.Match(path);
      if (!winner) {
        std::cout << EscapeControls(path) << ": (none)\n";
        ok = false;
        continue;
      }
      const auto& mapping = set.mappings()[*winner];
      std::cout << EscapeControls(path) << ": " << EscapeControls(mapping.label) << ' '
                << EscapeControls(mapping.file) << ':' << mapping.line << '\n';
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      std::cout.flush();
      SecPolicy::SecpolicyError(failure.what());
      ok = false;
    }
  }
  std::cout.flush();
  return ok ? 0 : 1;
}

}  // namespace

void AddLabelCheckCommands(CLI::App& label, int& status) {
  struct VerifyArgs {
    bool json = false;
    std::string mappingDir;
    std::vector<std::string> arguments;
    WalkFlags walk;
  };
  auto verifyArgs = std::make_shared<VerifyArgs>();
  auto* verify = label.add_subcommand(
      "verify",
      "Compare the labels on disk with the file-label mappings, for every mapped file or only\n"
      "for each PATH, and change nothing. A file without a label attribute shows as\n"
      "(no label). Exit 1 when a label differs, 3 when something could not be verified\n"
      "(mappings that do not parse, a missing path, a file no mapping covers).");
  verify->add_flag("--json", verifyArgs->json,
                   "Print the result as JSON");
  verify->add_option("--mappings", verifyArgs->mappingDir,
                     "File-label policy directory; every argument is then a PATH")
      ->type_name("DIR");
  verify->add_option("DIR|PATH", verifyArgs->arguments, "Mappings folder, or files to check");
  AddWalkOptions(verify, verifyArgs->walk);
  verify->callback([&status, verifyArgs] {
    const int result = Run([&] {
      SecPolicy::Admin::VerifyOptions options;
      options.mappingDir = verifyArgs->mappingDir;
      const auto& arguments = verifyArgs->arguments;
      if (options.mappingDir.empty() && arguments.size() == 1 && File_IsDirectory(arguments[0].c_str())) {
        options.mappingDir = arguments[0];
      } else {
        options.paths = arguments;
      }
      if (options.mappingDir.empty()) options.mappingDir = DefaultMappingDir();
      std::optional<Progress> progress;
      options.walk = verifyArgs->walk.Settings(progress);
      status = Verify(options, verifyArgs->json);
    });
    if (result != 0) status = 3;  // e.g. an --exclude path that cannot be examined
  });

  auto matchDir = std::make_shared<std::string>();
  auto matchPaths = std::make_shared<std::vector<std::string>>();
  auto* match = label.add_subcommand(
      "match",
      "Print the label each PATH gets from the file-label mappings and the line that gives it.");
  match->add_option("--mappings", *matchDir,
                    "File-label policy directory (default: the policy directory's fileLabels)")
      ->type_name("DIR");
  match->add_option("PATH", *matchPaths, "Files or folders")->required();
  match->callback([&status, matchDir, matchPaths] {
    status = 1;
    const int result = Run([&] {
      status = Match(matchDir->empty() ? DefaultMappingDir() : *matchDir, *matchPaths);
    });
    if (result != 0) status = result;
  });
}

}  // namespace SecPolicyCli
