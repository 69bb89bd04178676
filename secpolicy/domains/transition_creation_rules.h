// Domain transition rules ("-d object target event grant|revoke") and file
// creation rules ("-f object object keyword grant|revoke").
#pragma once

#include <string>
#include <vector>

#include "secpolicy/domains/rule_set.h"

namespace SecPolicy {

// The target domain is resolved to its kernel id when the line is parsed, and
// before the action word is looked at; it is not looked up again by Set.
class DomTransRules final
    : public KernelRuleSet<HyxAccess_DomTransRule, &HyxAccessInterfaceImpl::GetDomTransRules,
                           &HyxAccessInterfaceImpl::SetDomTransRule> {
 public:
  ~DomTransRules() override;

 protected:
  void ParseFields(HyxAccess_DomTransRule& record, TokenQueue& args,
                   HyxAccessInterfaceImpl& iface) const override;
  std::vector<std::string> PrintFields(const HyxAccess_DomTransRule& record) const override;
};

class FileCreationRules final
    : public KernelRuleSet<HyxAccess_FileCreationRule,
                           &HyxAccessInterfaceImpl::GetFileCreationRules,
                           &HyxAccessInterfaceImpl::SetFileCreationRule> {
 public:
  ~FileCreationRules() override;

 protected:
  void ParseFields(HyxAccess_FileCreationRule& record, TokenQueue& args,
                   HyxAccessInterfaceImpl& iface) const override;
  std::vector<std::string> PrintFields(const HyxAccess_FileCreationRule& record) const override;
};

}  // namespace SecPolicy
