// Object and file-label commands.
#include <iostream>
#include <memory>
#include <string>

#include "cli/secpolicy/commands.h"
#include "hostsim/admin.h"
#include "labels/file_labels.h"
#include "labels/object_policy.h"
#include "platform/hyx_access.h"

namespace SecPolicyCli {

using HyxCtl::Security::HyxAccessInterfaceImpl;

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
  auto* loadLabels = app.add_subcommand(
      "load-file-labels", "Apply the file-label mappings of the files of DIR.");
  loadLabels->add_option("DIR", *labelsDir, "File-label policy directory")->required();
  loadLabels->callback([&status, labelsDir] {
    status = Run([&] {
      const HostSim::WriterLock writerLock;
      HyxAccessInterfaceImpl iface;
      SecPolicy::LoadPolicyFileLabels(*labelsDir, iface);
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
  };
  auto setArgs = std::make_shared<SetArgs>();
  auto* set = label->add_subcommand(
      "set", "Put object LABEL on PATH (the file must already carry a label).");
  set->add_flag("-r,--recursive", setArgs->recursive,
                "Also label everything below the directory PATH (links are not followed)");
  set->add_option("PATH", setArgs->path, "File or directory")->required();
  set->add_option("LABEL", setArgs->label, "Object name")->required();
  set->callback([&status, setArgs] {
    status = Run([&] {
      HyxAccessInterfaceImpl iface;
      if (setArgs->recursive) {
        SecPolicy::SetDirLabelRecursive(setArgs->path, setArgs->label, iface);
      } else {
        SecPolicy::SetFileLabel(setArgs->path, setArgs->label, iface);
      }
    });
  });
}

}  // namespace SecPolicyCli
