#include "secpolicy/domains/syscall_capability_rules.h"

#include "secpolicy/domains/rule_set_impl.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

template <typename Record, std::string Record::*Name, HyxAccess_KeywordType Kind,
          ReadRulesOp<Record> Read, WriteRuleOp<Record> Write>
void NamedGrantRules<Record, Name, Kind, Read, Write>::ParseFields(
    Record& record, TokenQueue& args, HyxAccessInterfaceImpl& iface) const {
  if (args.size() != 2) RuleSizeError();
  record.*Name = PopToken(args);
  record.grant = PopAction(args);
  iface.ValidateKeyword(Kind, record.*Name);
}

template <typename Record, std::string Record::*Name, HyxAccess_KeywordType Kind,
          ReadRulesOp<Record> Read, WriteRuleOp<Record> Write>
std::vector<std::string> NamedGrantRules<Record, Name, Kind, Read, Write>::PrintFields(
    const Record& record) const {
  return {record.*Name, ActionWord(record.grant)};
}

template class RuleSet<HyxAccess_SyscallRule, &HyxAccessInterfaceImpl::GetSyscallRules>;
template class KernelRuleSet<HyxAccess_SyscallRule, &HyxAccessInterfaceImpl::GetSyscallRules,
                             &HyxAccessInterfaceImpl::SetSyscallRule>;
template class NamedGrantRules<HyxAccess_SyscallRule, &HyxAccess_SyscallRule::syscallName,
                               HYXACCESS_KEYWORD_SYSCALL, &HyxAccessInterfaceImpl::GetSyscallRules,
                               &HyxAccessInterfaceImpl::SetSyscallRule>;

template class RuleSet<HyxAccess_CapabilityRule, &HyxAccessInterfaceImpl::GetCapabilityRules>;
template class KernelRuleSet<HyxAccess_CapabilityRule,
                             &HyxAccessInterfaceImpl::GetCapabilityRules,
                             &HyxAccessInterfaceImpl::SetCapabilityRule>;
template class NamedGrantRules<HyxAccess_CapabilityRule, &HyxAccess_CapabilityRule::capabilityName,
                               HYXACCESS_KEYWORD_CAPABILITY,
                               &HyxAccessInterfaceImpl::GetCapabilityRules,
                               &HyxAccessInterfaceImpl::SetCapabilityRule>;

SyscallRules::~SyscallRules() = default;
CapabilityRules::~CapabilityRules() = default;

}  // namespace SecPolicy
