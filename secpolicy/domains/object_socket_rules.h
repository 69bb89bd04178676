// Object access rules ("-a object access grant|revoke") and Unix socket
// creation rules ("-u object keyword grant|revoke"): an object defined in the
// kernel, a keyword of the rule's own kind and an action.
#pragma once

#include <string>
#include <vector>

#include "secpolicy/domains/rule_set.h"

namespace SecPolicy {

// A rule set of "object word action" lines; `Word` is a keyword of `Kind`.
template <typename Record, std::string Record::*Word, HyxAccess_KeywordType Kind,
          ReadRulesOp<Record> Read, WriteRuleOp<Record> Write>
class ObjectKeywordRules : public KernelRuleSet<Record, Read, Write> {
 protected:
  void ParseFields(Record& record, TokenQueue& args, HyxAccessInterfaceImpl& iface) const override;
  std::vector<std::string> PrintFields(const Record& record) const override;
};

class ObjectAccessRules final
    : public ObjectKeywordRules<HyxAccess_ObjectAccessRule, &HyxAccess_ObjectAccessRule::accessType,
                                HYXACCESS_KEYWORD_OBJECT_ACCESS,
                                &HyxAccessInterfaceImpl::GetObjectAccessRules,
                                &HyxAccessInterfaceImpl::SetObjectAccessRule> {
 public:
  ~ObjectAccessRules() override;
};

class UnixSockCreationRules final
    : public ObjectKeywordRules<HyxAccess_UnixSockCreationRule,
                                &HyxAccess_UnixSockCreationRule::socketKeyword,
                                HYXACCESS_KEYWORD_UNIX_SOCKET,
                                &HyxAccessInterfaceImpl::GetUnixSockCreationRules,
                                &HyxAccessInterfaceImpl::SetUnixSockCreationRule> {
 public:
  ~UnixSockCreationRules() override;
};

}  // namespace SecPolicy
