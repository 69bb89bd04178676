// The contract through which a domain policy drives its eight rule sets.
#pragma once

#include <string>

#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// One rule type of one domain. Calling order on the load path: AddRule per
// line of the set's type in line order, CheckConstraints once, Set once. On the
// display path a fresh set gets ReadSystemRules, then PrintRules.
class PolicyRules {
 public:
  // The rule-type keyword ("-r", "-s", ...) that starts this set's lines;
  // set once by DomainPolicy when it registers the set.
  std::string keyword;

  // `args` holds the line's tokens after the keyword. A bad line adds nothing
  // and throws the located parse error.
  virtual void AddRule(unsigned int lineNumber, const std::string& domainName,
                       unsigned int domainId, TokenQueue args,
                       HyxAccessInterfaceImpl& iface) = 0;
  // Writes the rules in list order; the first refused rule ends the walk and
  // leaves the earlier ones written.
  virtual void Set(HyxAccessInterfaceImpl& iface) = 0;
  virtual void ReadSystemRules(unsigned int domainId, HyxAccessInterfaceImpl& iface) = 0;
  virtual void CheckConstraints(const std::string& domainName, HyxAccessInterfaceImpl& iface) = 0;
  // One policy line per rule and two empty lines after them; nothing at all
  // for an empty set.
  virtual void PrintRules() = 0;
  virtual ~PolicyRules();
};

}  // namespace SecPolicy
