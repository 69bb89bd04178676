// Capability parameter-check rules ("-p check arg [arg] grant|revoke"). The
// only rule set whose constraint check does work: the kernel library judges
// the whole set, argument words included, before anything is written.
#pragma once

#include <string>
#include <vector>

#include "secpolicy/domains/rule_set.h"

namespace SecPolicy {

class CapabilityParamRules final
    : public KernelRuleSet<HyxAccess_CapabilityParamRule,
                           &HyxAccessInterfaceImpl::GetCapabilityParamRules,
                           &HyxAccessInterfaceImpl::SetCapabilityParamRule> {
 public:
  ~CapabilityParamRules() override;

  // Consults the library even for an empty set. Throws
  // "Policy constraint error for domain: " + name + " : " + cause.
  void CheckConstraints(const std::string& domainName, HyxAccessInterfaceImpl& iface) override;

 protected:
  void ParseFields(HyxAccess_CapabilityParamRule& record, TokenQueue& args,
                   HyxAccessInterfaceImpl& iface) const override;
  std::vector<std::string> PrintFields(const HyxAccess_CapabilityParamRule& record) const override;
};

}  // namespace SecPolicy
