// The "-E" rule of a tardisk policy file: "-E label domain" puts `label` on
// the backing tardisk and lets every launch domain pass into `domain` when
// it executes a file with that label. The label "unlabeled" sets the label
// and no transition.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/visibility.h"
#include "secpolicy/tardisks/tardisk_policy.h"

namespace SecPolicy {

struct HyxAccess_TardiskExceptionRule {
  std::uint32_t lineNumber = 0;
  std::string tardiskPath;
  std::string label;
  std::string domainName;
  std::uint32_t domainId = 0;  // resolved while parsing
  std::string policyFile;
};

class TardiskExceptionRules : public virtual TardiskRules {
 public:
  // At most one rule per file: a second throws "Only one rule of this type
  // is allowed", unlocated. Other failures carry the file and line.
  void AddRule(unsigned int line, const std::string& tardiskPath, const std::string& policyFile,
               TokenQueue tokens, HyxAccessInterfaceImpl& iface) override;

  // Labels the tardisk first, then writes one transition per launch domain
  // other than the rule's own domain.
  void Set(HyxAccessInterfaceImpl& iface) override;

  ~TardiskExceptionRules() override = default;

  std::list<HyxAccess_TardiskExceptionRule> rules;
};

// Parses every policy, then applies every one (also those that failed to
// parse, with the rules they got). Throws "Failure in setting specified
// tardisk policy" after reporting when any failed. Does not own the
// policies.
void ParseAndSetTardiskPolicy(std::list<TardiskPolicy*> policies, HyxAccessInterfaceImpl& iface);

// Throws policyFile + ":" + line + " : Tardisk: " + tardiskPath + " : " + cause.
[[noreturn]] SECPOLICY_INTERNAL void ThrowTardiskLabelError(unsigned int line,
                                                            const std::string& tardiskPath,
                                                            const std::string& policyFile,
                                                            const std::string& cause);

}  // namespace SecPolicy
