#include "secpolicy/domains/capability_param_rules.h"

#include "secpolicy/domains/rule_set_impl.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

template class RuleSet<HyxAccess_CapabilityParamRule,
                       &HyxAccessInterfaceImpl::GetCapabilityParamRules>;
template class KernelRuleSet<HyxAccess_CapabilityParamRule,
                             &HyxAccessInterfaceImpl::GetCapabilityParamRules,
                             &HyxAccessInterfaceImpl::SetCapabilityParamRule>;

CapabilityParamRules::~CapabilityParamRules() = default;

void CapabilityParamRules::ParseFields(HyxAccess_CapabilityParamRule& record, TokenQueue& args,
                                       HyxAccessInterfaceImpl& iface) const {
  if (args.size() != 3 && args.size() != 4) RuleSizeError();
  record.paramCheck = PopToken(args);
  record.firstArg = PopToken(args);
  if (args.size() == 2) record.secondArg = PopToken(args);
  record.grant = PopAction(args);
  // The argument words are left to CheckConstraints.
  iface.ValidateKeyword(HYXACCESS_KEYWORD_PARAMCHECK, record.paramCheck);
}

std::vector<std::string> CapabilityParamRules::PrintFields(
    const HyxAccess_CapabilityParamRule& record) const {
  std::vector<std::string> fields{record.paramCheck, record.firstArg};
  if (!record.secondArg.empty()) fields.push_back(record.secondArg);
  fields.emplace_back(ActionWord(record.grant));
  return fields;
}

void CapabilityParamRules::CheckConstraints(const std::string& domainName,
                                            HyxAccessInterfaceImpl& iface) {
  try {
    iface.CheckCapabilityParamRuleConstraints(domainName, rules_);
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    throw HostCtl::Lib::HostCtlException("Policy constraint error for domain: " + domainName +
                                         " : " + failure.what());
  }
}

}  // namespace SecPolicy
