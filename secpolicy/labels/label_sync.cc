#include "secpolicy/labels/label_sync.h"

#include <algorithm>

#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

namespace {

void PrintLabels(const std::vector<std::string>& labels, const char* heading) {
  if (labels.empty()) return;
  SecpolicyInfo(heading);
  for (const auto& label : labels) SecpolicyInfo(label);
}

}  // namespace

void SyncLabelsFromPolicy(std::vector<std::string> policyLabels,
                          std::map<std::string, std::int64_t> kernelLabels,
                          HyxAccessLabelType type, HyxAccessInterfaceImpl& iface) {
  // Removing and defining an invalid label again gives it a fresh value.
  const std::vector<std::string> invalid = iface.GetInvalidLabels(type);
  iface.RemoveLabels(invalid, type);
  iface.AddLabels(invalid, type);
  PrintInvalidLabels(invalid, type);

  const std::vector<std::string> obsolete =
      GetObsoleteLabels(policyLabels, std::move(kernelLabels), type, iface);
  iface.RemoveLabels(obsolete, type);
  PrintObsoleteLabels(obsolete, type);

  // Names the kernel already holds are passed too; the library keeps them.
  iface.AddLabels(std::move(policyLabels), type);
}

std::vector<std::string> GetObsoleteLabels(std::vector<std::string> policyLabels,
                                           std::map<std::string, std::int64_t> kernelLabels,
                                           HyxAccessLabelType type,
                                           HyxAccessInterfaceImpl& iface) {
  std::vector<std::string> obsolete;
  for (const auto& [name, id] : kernelLabels) {
    if (type == HYXACCESS_LABEL_DOMAIN && iface.IsPrivilegedVm(name)) continue;
    if (std::find(policyLabels.begin(), policyLabels.end(), name) != policyLabels.end()) continue;
    if (iface.IsPredefinedLabel(name, type)) continue;
    obsolete.push_back(name);
  }
  return obsolete;
}

void PrintInvalidLabels(std::vector<std::string> labels, HyxAccessLabelType type) {
  PrintLabels(labels, type == HYXACCESS_LABEL_DOMAIN
                          ? "The values of the following domains have been changed:"
                          : "The values of the following objects have been changed:");
}

void PrintObsoleteLabels(std::vector<std::string> labels, HyxAccessLabelType type) {
  PrintLabels(labels, type == HYXACCESS_LABEL_DOMAIN ? "The following domains have been removed:"
                                                     : "The following objects have been removed:");
}

}  // namespace SecPolicy
