// One domain's policy: its identity, its policy file and its eight rule sets,
// keyed by rule-type keyword. Every walk over the sets (check, write,
// read-back, print) follows the byte-wise order of the keywords:
// -a -c -d -f -p -r -s -u.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "secpolicy/domains/policy_rules.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy {

class DomainPolicy {
 public:
  DomainPolicy(const std::string& domainName, unsigned int domainId);
  ~DomainPolicy();
  DomainPolicy(const DomainPolicy&) = delete;
  DomainPolicy& operator=(const DomainPolicy&) = delete;

  // Reads policyFilePath and hands its lines to the rule sets.
  void ParsePolicy(HyxAccessInterfaceImpl& iface);
  // The first bad line ends the processing; rules of earlier lines stay.
  void ProcessParsedPolicyFile(HyxAccessInterfaceImpl& iface, ParsedPolicyFile& lines);
  void CheckPolicyConstraints(HyxAccessInterfaceImpl& iface);
  // Refuses to write anything when hasErrors is set.
  void SetPolicy(HyxAccessInterfaceImpl& iface);
  // Reports and passes over a rule set the kernel cannot read back.
  void ReadSystemPolicy(HyxAccessInterfaceImpl& iface);
  // Every set's lines, then one newline.
  void PrintPolicy();

  unsigned int domainId;
  std::string domainName;
  std::string policyFilePath;
  // Set by the loader when the domain failed its constraint check.
  bool hasErrors = false;
  // Views of the sets owned below.
  std::map<std::string, PolicyRules*> rules;

 private:
  std::vector<std::unique_ptr<PolicyRules>> ownedRules_;
};

}  // namespace SecPolicy
