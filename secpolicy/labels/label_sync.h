// Reconciliation of the kernel's labels of one type with the names a policy
// gives: invalid labels are refreshed, obsolete ones removed, the policy's
// names defined. Labels the kernel predefines are never removed, nor, for
// domain labels, those of privileged virtual machines.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "secpolicy/platform/hyx_access.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// Kernel calls are made even with empty lists; the first failure of the
// kernel library ends the reconciliation and passes out.
void SyncLabelsFromPolicy(std::vector<std::string> policyLabels,
                          std::map<std::string, std::int64_t> kernelLabels,
                          HyxAccessLabelType type, HyxAccessInterfaceImpl& iface);

// Kernel labels, in name order, that neither the policy names (exact,
// case-sensitive) nor the kernel predefines nor, for domains, belong to a
// privileged virtual machine.
std::vector<std::string> GetObsoleteLabels(std::vector<std::string> policyLabels,
                                           std::map<std::string, std::int64_t> kernelLabels,
                                           HyxAccessLabelType type,
                                           HyxAccessInterfaceImpl& iface);

// Informational reports: a heading, then one line per name; nothing when
// the list is empty.
void PrintInvalidLabels(std::vector<std::string> labels, HyxAccessLabelType type);
void PrintObsoleteLabels(std::vector<std::string> labels, HyxAccessLabelType type);

}  // namespace SecPolicy
