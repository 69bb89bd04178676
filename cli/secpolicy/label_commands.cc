// Object and file-label commands.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/terminal_text.h"
#include "cli/secpolicy/commands.h"
#include "cli/secpolicy/walk_flags.h"
#include "hostsim/admin.h"
#include "secpolicy/admin/label_load.h"
#include "secpolicy/admin/label_walk.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/labels/object_policy.h"
#include "secpolicy/platform/hyx_access.h"

namespace SecPolicyCli {

using HyxCtl::Security::HyxAccessInterfaceImpl;
using SecPolicy::Admin::LabelTree;

namespace {

void Warn(const std::vector<std::string>& hazards) {
  for (const auto& hazard : hazards) {
    std::cerr << "Warning: " << CliCommon::EscapeControls(hazard) << '\n';
  }
  std::cerr.flush();
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
      Warn(SecPolicy::Admin::MappingRootHazards(*labelsDir, iface));
      if (loadFlags->Plain()) return SecPolicy::LoadPolicyFileLabels(*labelsDir, iface);
      std::optional<Progress> progress;
      SecPolicy::Admin::LoadFileLabels(*labelsDir, iface, loadFlags->Settings(progress));
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
      Warn(SecPolicy::Admin::RootHazards(setArgs->path));
      if (setArgs->walk.Plain()) {
        return SecPolicy::SetDirLabelRecursive(setArgs->path, setArgs->label, iface);
      }
      std::optional<Progress> progress;
      LabelTree(setArgs->path, setArgs->label, setArgs->walk.Settings(progress));
    });
  });

  AddLabelCheckCommands(*label, status);
}

}  // namespace SecPolicyCli
