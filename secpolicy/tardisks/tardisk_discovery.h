// Which tardisks exist, and which tardisk policy files apply to which of
// them. The tardisk directory is walked in the order the file system yields
// it; nothing sorts it.
#pragma once

#include <list>
#include <string>

#include "secpolicy/tardisks/tardisk_policy.h"

namespace SecPolicy {

// Appends "/tardisks/" + name for every regular file there; other entries
// are reported as skipped. Throws "Could not open tardisk dir /tardisks/".
void GetAllTardisks(std::list<std::string>& tardisks);

// Appends one new policy per accepted file of `dir` (the first file in
// directory order wins a tardisk) and every unclaimed tardisk to
// `defaultTardisks`. A missing `dir` is reported and leaves both lists as
// they were. The caller owns what `policies` holds, also when this throws.
void GetTardiskLists(const std::string& dir, std::list<TardiskPolicy*>& policies,
                     std::list<std::string>& defaultTardisks);

// Owns a list of policies and destroys them when it goes out of scope.
class TardiskPolicyList {
 public:
  TardiskPolicyList() = default;
  ~TardiskPolicyList() { Clear(); }
  TardiskPolicyList(const TardiskPolicyList&) = delete;
  TardiskPolicyList& operator=(const TardiskPolicyList&) = delete;

  void Clear() {
    for (TardiskPolicy* policy : policies) delete policy;
    policies.clear();
  }

  std::list<TardiskPolicy*> policies;
};

}  // namespace SecPolicy
