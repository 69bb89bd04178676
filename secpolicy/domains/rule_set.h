// The shape shared by the eight rule sets: a list of kernel records held by
// value, one record per policy line, one kernel write per record, read-back
// and printing in policy syntax. Each rule set supplies only its record type,
// its kernel operations and its own parse and print pieces.
//
// The member definitions live in rule_set_impl.h, which only the library's
// sources include: every instantiation is made, once, inside the library.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "secpolicy/domains/policy_rules.h"

namespace SecPolicy {

template <typename Record>
using ReadRulesOp = bool (HyxAccessInterfaceImpl::*)(std::uint32_t, std::list<Record>&);
template <typename Record>
using WriteRuleOp = bool (HyxAccessInterfaceImpl::*)(Record);

template <typename Record, ReadRulesOp<Record> Read>
class RuleSet : public virtual PolicyRules {
 public:
  // Fills the record's header, has ParseFields fill the rest, and appends it.
  // Any HostCtlException on the way becomes the located parse error.
  void AddRule(unsigned int lineNumber, const std::string& domainName, unsigned int domainId,
               TokenQueue args, HyxAccessInterfaceImpl& iface) override;
  void ReadSystemRules(unsigned int domainId, HyxAccessInterfaceImpl& iface) override;
  void CheckConstraints(const std::string& domainName, HyxAccessInterfaceImpl& iface) override;
  void PrintRules() override;

  // The records added so far, in line order: what analysis tools read.
  const std::list<Record>& Records() const { return rules_; }

 protected:
  // Checks the arity, then the action word, then the kernel keywords in
  // field order, filling the record's own fields.
  virtual void ParseFields(Record& record, TokenQueue& args,
                           HyxAccessInterfaceImpl& iface) const = 0;
  // The words printed after the keyword, in order.
  virtual std::vector<std::string> PrintFields(const Record& record) const = 0;

  std::list<Record> rules_;
};

// A rule set whose records go to the kernel one at a time.
template <typename Record, ReadRulesOp<Record> Read, WriteRuleOp<Record> Write>
class KernelRuleSet : public RuleSet<Record, Read> {
 public:
  void Set(HyxAccessInterfaceImpl& iface) override;
};

// Pieces of the grammars.
std::string PopToken(TokenQueue& args);
// The action word at the front: true for "grant", false for "revoke".
bool PopAction(TokenQueue& args);
const char* ActionWord(bool grant);

}  // namespace SecPolicy
