// Object and file-label commands.
#include <unistd.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/terminal_text.h"
#include "cli/secpolicy/commands.h"
#include "cli/secpolicy/label_verify.h"
#include "cli/secpolicy/label_walk.h"
#include "hostsim/admin.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/labels/object_policy.h"
#include "secpolicy/policytext/policy_file_reader.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/host_files.h"
#include "secpolicy/platform/hyx_access.h"

namespace SecPolicyCli {

using HyxCtl::Security::HyxAccessInterfaceImpl;

namespace {

// --jobs, --exclude and --progress of the commands that walk trees.
struct WalkFlags {
  unsigned jobs = 1;
  std::vector<std::string> exclude;
  bool progress = isatty(STDERR_FILENO) == 1;

  bool Plain() const { return jobs == 1 && exclude.empty() && !progress; }

  // Settings for a walk, with the progress line shown while `shown` lives.
  WalkSettings Settings(std::optional<Progress>& shown) const {
    WalkSettings settings;
    settings.jobs = JobCount(jobs);
    for (const auto& path : exclude) settings.exclusions.Add(path);
    if (progress) {
      shown.emplace(settings.jobs, isatty(STDERR_FILENO) == 1);
      settings.progress = &*shown;
    }
    return settings;
  }
};

void AddWalkOptions(CLI::App* command, WalkFlags& flags) {
  command->add_option("--jobs,-j", flags.jobs, "Workers sharing the walk (0: one per core)")
      ->check(CLI::Range(0u, 1024u))
      ->default_str("1");
  command->add_option("--exclude", flags.exclude,
                      "Leave out the file or folder PATH and everything below it (repeatable)")
      ->type_name("PATH");
  command->add_flag("--progress", flags.progress,
                    "Show entries done, rate and folder on standard error (default when it is "
                    "a terminal)");
  command->add_flag_callback("--no-progress", [&flags] { flags.progress = false; },
                             "Show no progress");
}

void Warn(const std::string& where, const std::string& root) {
  for (const auto& hazard : RootHazards(root)) {
    std::cerr << "Warning: " << CliCommon::EscapeControls(where + hazard) << '\n';
  }
  std::cerr.flush();
}

// Warns about the root of every recursive mapping in `dir`. Parse errors
// are left to the load, which reports them.
void WarnAboutMappings(const std::string& dir, HyxAccessInterfaceImpl& iface) {
  SecPolicy::PolicyFileList files;
  try {
    SecPolicy::GetFileList(dir, files);
  } catch (const HostCtl::Lib::HostCtlException&) {
    return;
  }
  for (const auto& [path, name] : files) {
    SecPolicy::FileLabelPolicy policy;
    try {
      policy.ParsePolicy(path, iface);
    } catch (const HostCtl::Lib::HostCtlException&) {
      // The mappings before the bad line are still applied.
    }
    for (const auto& mapping : policy.fileLabels) {
      if (mapping.recursive) Warn(path + ":" + std::to_string(mapping.line) + " : ", mapping.path);
    }
  }
}

std::string DefaultMappingDir() {
  return SecPolicy::DefaultPolicyDir + "/" + SecPolicy::FileLabelsDirName;
}

}  // namespace

void AddLabelCommands(CLI::App& app, int& status) {
  auto objectsDir = std::make_shared<std::string>();
  auto* loadObjects = app.add_subcommand(
      "load-objects", "Define the objects named by the files of DIR and remove obsolete ones.");
  loadObjects->add_option("DIR", *objectsDir, "Object policy directory")->required();
  loadObjects->callback([&status, objectsDir] {
    status = Run([&] {
      const HostSim::WriterLock writerLock;
      HyxAccessInterfaceImpl iface;
      SecPolicy::LoadPolicyObjects(*objectsDir, iface);
    });
  });

  auto labelsDir = std::make_shared<std::string>();
  auto loadFlags = std::make_shared<WalkFlags>();
  auto* loadLabels = app.add_subcommand(
      "load-file-labels",
      "Apply the file-label mappings of the files of DIR. A mapping TREE/* follows TREE\n"
      "when it is a symbolic link, and no link below it (those keep their label); a\n"
      "warning says when TREE is a link or lies in a folder other users may write.");
  loadLabels->add_option("DIR", *labelsDir, "File-label policy directory")->required();
  AddWalkOptions(loadLabels, *loadFlags);
  loadLabels->callback([&status, labelsDir, loadFlags] {
    status = Run([&] {
      const HostSim::WriterLock writerLock;
      HyxAccessInterfaceImpl iface;
      WarnAboutMappings(*labelsDir, iface);
      if (loadFlags->Plain()) return SecPolicy::LoadPolicyFileLabels(*labelsDir, iface);
      std::optional<Progress> progress;
      const WalkSettings settings = loadFlags->Settings(progress);
      SecPolicy::LoadPolicyFileLabels(*labelsDir, iface, [&](const Mapping& mapping) {
        if (mapping.recursive) return LabelTree(mapping.path, mapping.label, settings);
        if (settings.exclusions.ContainsPath(mapping.path)) return;
        SecPolicy::SetFileLabel(mapping.path, mapping.label, iface);
        if (progress) progress->Count(0);
      });
    });
  });

  app.add_subcommand("display-objects", "Print the objects defined in the kernel with their ids.")
      ->callback([&status] {
        status = Run([] {
          HyxAccessInterfaceImpl iface;
          SecPolicy::DisplayPolicyObjects(iface);
        });
      });

  auto* label = app.add_subcommand("label", "Read or write the security label of a file.");
  label->require_subcommand(1);

  auto getPath = std::make_shared<std::string>();
  auto* get = label->add_subcommand("get", "Print the label of PATH.");
  get->add_option("PATH", *getPath, "File or directory")->required();
  get->callback([&status, getPath] {
    status = Run([&] {
      HyxAccessInterfaceImpl iface;
      std::cout << SecPolicy::GetFileLabel(*getPath, iface) << std::endl;
    });
  });

  struct SetArgs {
    std::string path;
    std::string label;
    bool recursive = false;
    WalkFlags walk;
  };
  auto setArgs = std::make_shared<SetArgs>();
  auto* set = label->add_subcommand(
      "set", "Put object LABEL on PATH (the file must already carry a label).");
  set->add_flag("-r,--recursive", setArgs->recursive,
                "Also label everything below the directory PATH. PATH itself is followed when it\n"
                "is a symbolic link; no link below it is ever followed (links keep their label).\n"
                "A warning says when PATH is a link or lies in a folder other users may write.");
  set->add_option("PATH", setArgs->path, "File or directory")->required();
  set->add_option("LABEL", setArgs->label, "Object name")->required();
  AddWalkOptions(set, setArgs->walk);
  set->callback([&status, setArgs] {
    status = Run([&] {
      HyxAccessInterfaceImpl iface;
      if (!setArgs->recursive) {
        for (const auto& path : setArgs->walk.exclude) {
          if (path == setArgs->path) return;
        }
        return SecPolicy::SetFileLabel(setArgs->path, setArgs->label, iface);
      }
      Warn("", setArgs->path);
      if (setArgs->walk.Plain()) {
        return SecPolicy::SetDirLabelRecursive(setArgs->path, setArgs->label, iface);
      }
      std::optional<Progress> progress;
      LabelTree(setArgs->path, setArgs->label, setArgs->walk.Settings(progress));
    });
  });

  struct VerifyArgs {
    VerifyOptions options;
    std::vector<std::string> arguments;
    WalkFlags walk;
  };
  auto verifyArgs = std::make_shared<VerifyArgs>();
  auto* verify = label->add_subcommand(
      "verify",
      "Compare the labels on disk with the file-label mappings, for every mapped file or only\n"
      "for each PATH, and change nothing. A file without a label attribute shows as\n"
      "(no label). Exit 1 when a label differs, 3 when something could not be verified\n"
      "(mappings that do not parse, a missing path, a file no mapping covers).");
  verify->add_flag("--json", verifyArgs->options.json,
                   "Print the result as JSON");
  verify->add_option("--mappings", verifyArgs->options.mappingDir,
                     "File-label policy directory; every argument is then a PATH")
      ->type_name("DIR");
  verify->add_option("DIR|PATH", verifyArgs->arguments, "Mappings folder, or files to check");
  AddWalkOptions(verify, verifyArgs->walk);
  verify->callback([&status, verifyArgs] {
    const int result = Run([&] {
      VerifyOptions options = verifyArgs->options;
      const auto& arguments = verifyArgs->arguments;
      if (options.mappingDir.empty() && arguments.size() == 1 && File_IsDirectory(arguments[0].c_str())) {
        options.mappingDir = arguments[0];
      } else {
        options.paths = arguments;
      }
      if (options.mappingDir.empty()) options.mappingDir = DefaultMappingDir();
      std::optional<Progress> progress;
      options.walk = verifyArgs->walk.Settings(progress);
      status = VerifyLabels(options);
    });
    if (result != 0) status = 3;  // e.g. an --exclude path that cannot be examined
  });

  auto matchDir = std::make_shared<std::string>();
  auto matchPaths = std::make_shared<std::vector<std::string>>();
  auto* match = label->add_subcommand(
      "match",
      "Print the label each PATH gets from the file-label mappings and the line that gives it.");
  match->add_option("--mappings", *matchDir,
                    "File-label policy directory (default: the policy directory's fileLabels)")
      ->type_name("DIR");
  match->add_option("PATH", *matchPaths, "Files or folders")->required();
  match->callback([&status, matchDir, matchPaths] {
    status = 1;
    const int result = Run([&] {
      status = MatchLabels(matchDir->empty() ? DefaultMappingDir() : *matchDir, *matchPaths);
    });
    if (result != 0) status = result;
  });
}

}  // namespace SecPolicyCli
