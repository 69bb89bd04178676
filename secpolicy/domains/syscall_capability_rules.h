// System call rules ("-s name grant|revoke") and capability rules
// ("-c name grant|revoke"): a name of the kernel's keyword list and an action.
#pragma once

#include <string>
#include <vector>

#include "secpolicy/domains/rule_set.h"

namespace SecPolicy {

// A rule set of "name action" lines whose name is a kernel keyword of `Kind`.
template <typename Record, std::string Record::*Name, HyxAccess_KeywordType Kind,
          ReadRulesOp<Record> Read, WriteRuleOp<Record> Write>
class NamedGrantRules : public KernelRuleSet<Record, Read, Write> {
 protected:
  void ParseFields(Record& record, TokenQueue& args, HyxAccessInterfaceImpl& iface) const override;
  std::vector<std::string> PrintFields(const Record& record) const override;
};

class SyscallRules final
    : public NamedGrantRules<HyxAccess_SyscallRule, &HyxAccess_SyscallRule::syscallName,
                             HYXACCESS_KEYWORD_SYSCALL, &HyxAccessInterfaceImpl::GetSyscallRules,
                             &HyxAccessInterfaceImpl::SetSyscallRule> {
 public:
  ~SyscallRules() override;
};

class CapabilityRules final
    : public NamedGrantRules<HyxAccess_CapabilityRule, &HyxAccess_CapabilityRule::capabilityName,
                             HYXACCESS_KEYWORD_CAPABILITY,
                             &HyxAccessInterfaceImpl::GetCapabilityRules,
                             &HyxAccessInterfaceImpl::SetCapabilityRule> {
 public:
  ~CapabilityRules() override;
};

}  // namespace SecPolicy
