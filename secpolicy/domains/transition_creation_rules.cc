#include "secpolicy/domains/transition_creation_rules.h"

#include "secpolicy/domains/rule_set_impl.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

template class RuleSet<HyxAccess_DomTransRule, &HyxAccessInterfaceImpl::GetDomTransRules>;
template class KernelRuleSet<HyxAccess_DomTransRule, &HyxAccessInterfaceImpl::GetDomTransRules,
                             &HyxAccessInterfaceImpl::SetDomTransRule>;
template class RuleSet<HyxAccess_FileCreationRule, &HyxAccessInterfaceImpl::GetFileCreationRules>;
template class KernelRuleSet<HyxAccess_FileCreationRule,
                             &HyxAccessInterfaceImpl::GetFileCreationRules,
                             &HyxAccessInterfaceImpl::SetFileCreationRule>;

DomTransRules::~DomTransRules() = default;
FileCreationRules::~FileCreationRules() = default;

void DomTransRules::ParseFields(HyxAccess_DomTransRule& record, TokenQueue& args,
                                HyxAccessInterfaceImpl& iface) const {
  if (args.size() != 4) RuleSizeError();
  record.objectName = PopToken(args);
  record.targetDomainName = PopToken(args);
  if (!iface.FindDomain(record.targetDomainName, &record.targetDomainId)) {
    throw HostCtl::Lib::HostCtlException("Failed to fetch domain id for: " +
                                         record.targetDomainName);
  }
  record.event = PopToken(args);
  record.grant = PopAction(args);
  iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, record.objectName);
  iface.ValidateKeyword(HYXACCESS_KEYWORD_EVENT, record.event);
}

std::vector<std::string> DomTransRules::PrintFields(const HyxAccess_DomTransRule& record) const {
  return {record.objectName, record.targetDomainName, record.event, ActionWord(record.grant)};
}

void FileCreationRules::ParseFields(HyxAccess_FileCreationRule& record, TokenQueue& args,
                                    HyxAccessInterfaceImpl& iface) const {
  if (args.size() != 4) RuleSizeError();
  record.firstObject = PopToken(args);
  record.secondObject = PopToken(args);
  record.creationKeyword = PopToken(args);
  record.grant = PopAction(args);
  iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, record.firstObject);
  iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, record.secondObject);
  iface.ValidateKeyword(HYXACCESS_KEYWORD_FILE_CREATION, record.creationKeyword);
}

std::vector<std::string> FileCreationRules::PrintFields(
    const HyxAccess_FileCreationRule& record) const {
  return {record.firstObject, record.secondObject, record.creationKeyword,
          ActionWord(record.grant)};
}

}  // namespace SecPolicy
