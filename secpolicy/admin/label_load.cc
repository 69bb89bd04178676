#include "secpolicy/admin/label_load.h"

#include "secpolicy/labels/file_labels.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy::Admin {

using HostCtl::Lib::HostCtlException;

void LoadFileLabels(const std::string& dir, HyxAccessInterfaceImpl& iface,
                    const WalkSettings& settings) {
  LoadPolicyFileLabels(dir, iface, [&](const FileLabelPolicy::FileLabel& mapping) {
    if (mapping.recursive) return LabelTree(mapping.path, mapping.label, settings);
    if (settings.exclusions.ContainsPath(mapping.path)) return;
    SetFileLabel(mapping.path, mapping.label, iface);
    if (settings.progress != nullptr) settings.progress->Count(0);
  });
}

std::vector<std::string> MappingRootHazards(const std::string& dir,
                                            HyxAccessInterfaceImpl& iface) {
  std::vector<std::string> hazards;
  PolicyFileList files;
  try {
    GetFileList(dir, files);
  } catch (const HostCtlException&) {
    return hazards;
  }
  for (const auto& [path, name] : files) {
    FileLabelPolicy policy;
    try {
      policy.ParsePolicy(path, iface);
    } catch (const HostCtlException&) {
      // The mappings before the bad line are still applied.
    }
    for (const auto& mapping : policy.fileLabels) {
      if (!mapping.recursive) continue;
      for (const auto& hazard : RootHazards(mapping.path)) {
        hazards.push_back(path + ":" + std::to_string(mapping.line) + " : " + hazard);
      }
    }
  }
  return hazards;
}

}  // namespace SecPolicy::Admin
