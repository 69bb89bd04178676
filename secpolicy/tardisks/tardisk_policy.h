// Tardisk policies: a policy file shipped with a tardisk (boot module
// archive under "/tardisks/") names the label that tardisk carries and the
// domain its programs run in. The tardisk a file came from, its backing
// tardisk, is what the kernel records for the file's inode.
#pragma once

#include <map>
#include <string>

#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// A rule set of a tardisk policy file, registered under its rule-type
// keyword.
class TardiskRules {
 public:
  virtual void AddRule(unsigned int line, const std::string& tardiskPath,
                       const std::string& policyFile, TokenQueue tokens,
                       HyxAccessInterfaceImpl& iface) = 0;
  virtual void Set(HyxAccessInterfaceImpl& iface) = 0;
  virtual ~TardiskRules() = default;

  std::string keyword;
};

// One tardisk policy file. Held by pointer and never copied; owns its rule
// sets, which are fixed at construction.
class TardiskPolicy {
 public:
  explicit TardiskPolicy(const std::string& policyPath);
  ~TardiskPolicy();
  TardiskPolicy(const TardiskPolicy&) = delete;
  TardiskPolicy& operator=(const TardiskPolicy&) = delete;

  // "/tardisks/" + the name the kernel records for the file's inode, or ""
  // when no tardisk provides it. Asks the kernel at every call.
  std::string GetBackingTardiskPath();

  // Reads the file into the rule sets; the first bad line ends the parse.
  // A file with no backing tardisk is reported and contributes nothing.
  void ParsePolicy(HyxAccessInterfaceImpl& iface);
  // The same on lines of the file already read, for the backing `tardisk`
  // (called by ParsePolicy), so a caller can take a file a few lines at a
  // time. Uses up the tokens.
  void ProcessParsedPolicyFile(HyxAccessInterfaceImpl& iface, const std::string& tardisk,
                               ParsedPolicyFile& lines);

  // Applies every rule set in keyword order; the first failure passes out.
  void SetPolicy(HyxAccessInterfaceImpl& iface);

  std::string path;
  std::map<std::string, TardiskRules*> ruleSets;
};

}  // namespace SecPolicy
