// Member definitions of the rule-set templates. Included by the library's
// rule-set sources only, each of which instantiates its own sets.
#pragma once

#include <iostream>

#include "secpolicy/domains/rule_set.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/error_texts.h"

namespace SecPolicy {

template <typename Record, ReadRulesOp<Record> Read>
void RuleSet<Record, Read>::AddRule(unsigned int lineNumber, const std::string& domainName,
                                    unsigned int domainId, TokenQueue args,
                                    HyxAccessInterfaceImpl& iface) {
  try {
    Record record;
    record.lineNumber = lineNumber;
    record.domainId = domainId;
    record.domainName = domainName;
    ParseFields(record, args, iface);
    rules_.push_back(std::move(record));
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    ThrowParsePolicyError(lineNumber, domainName, failure.what());
  }
}

template <typename Record, ReadRulesOp<Record> Read>
void RuleSet<Record, Read>::ReadSystemRules(unsigned int domainId, HyxAccessInterfaceImpl& iface) {
  (iface.*Read)(domainId, rules_);
}

template <typename Record, ReadRulesOp<Record> Read>
void RuleSet<Record, Read>::CheckConstraints(const std::string& /*domainName*/,
                                             HyxAccessInterfaceImpl& /*iface*/) {}

template <typename Record, ReadRulesOp<Record> Read>
void RuleSet<Record, Read>::PrintRules() {
  if (rules_.empty()) return;
  for (const Record& record : rules_) {
    std::cout << keyword;
    for (const std::string& field : PrintFields(record)) std::cout << ' ' << field;
    std::cout << std::endl;
  }
  std::cout << std::endl << std::endl;
}

template <typename Record, ReadRulesOp<Record> Read, WriteRuleOp<Record> Write>
void KernelRuleSet<Record, Read, Write>::Set(HyxAccessInterfaceImpl& iface) {
  for (const Record& record : this->rules_) {
    try {
      (iface.*Write)(record);
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      ThrowSetPolicyError(record.lineNumber, record.domainName, failure.what());
    }
  }
}

}  // namespace SecPolicy
