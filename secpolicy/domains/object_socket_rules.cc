#include "secpolicy/domains/object_socket_rules.h"

#include "secpolicy/domains/rule_set_impl.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

template <typename Record, std::string Record::*Word, HyxAccess_KeywordType Kind,
          ReadRulesOp<Record> Read, WriteRuleOp<Record> Write>
void ObjectKeywordRules<Record, Word, Kind, Read, Write>::ParseFields(
    Record& record, TokenQueue& args, HyxAccessInterfaceImpl& iface) const {
  if (args.size() != 3) RuleSizeError();
  record.objectName = PopToken(args);
  record.*Word = PopToken(args);
  record.grant = PopAction(args);
  iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, record.objectName);
  iface.ValidateKeyword(Kind, record.*Word);
}

template <typename Record, std::string Record::*Word, HyxAccess_KeywordType Kind,
          ReadRulesOp<Record> Read, WriteRuleOp<Record> Write>
std::vector<std::string> ObjectKeywordRules<Record, Word, Kind, Read, Write>::PrintFields(
    const Record& record) const {
  return {record.objectName, record.*Word, ActionWord(record.grant)};
}

template class RuleSet<HyxAccess_ObjectAccessRule, &HyxAccessInterfaceImpl::GetObjectAccessRules>;
template class KernelRuleSet<HyxAccess_ObjectAccessRule,
                             &HyxAccessInterfaceImpl::GetObjectAccessRules,
                             &HyxAccessInterfaceImpl::SetObjectAccessRule>;
template class ObjectKeywordRules<HyxAccess_ObjectAccessRule,
                                  &HyxAccess_ObjectAccessRule::accessType,
                                  HYXACCESS_KEYWORD_OBJECT_ACCESS,
                                  &HyxAccessInterfaceImpl::GetObjectAccessRules,
                                  &HyxAccessInterfaceImpl::SetObjectAccessRule>;

template class RuleSet<HyxAccess_UnixSockCreationRule,
                       &HyxAccessInterfaceImpl::GetUnixSockCreationRules>;
template class KernelRuleSet<HyxAccess_UnixSockCreationRule,
                             &HyxAccessInterfaceImpl::GetUnixSockCreationRules,
                             &HyxAccessInterfaceImpl::SetUnixSockCreationRule>;
template class ObjectKeywordRules<HyxAccess_UnixSockCreationRule,
                                  &HyxAccess_UnixSockCreationRule::socketKeyword,
                                  HYXACCESS_KEYWORD_UNIX_SOCKET,
                                  &HyxAccessInterfaceImpl::GetUnixSockCreationRules,
                                  &HyxAccessInterfaceImpl::SetUnixSockCreationRule>;

ObjectAccessRules::~ObjectAccessRules() = default;
UnixSockCreationRules::~UnixSockCreationRules() = default;

}  // namespace SecPolicy
