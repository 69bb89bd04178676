// The simulated kernel's capability and parameter-check calls.
//
// Decisions:
// - 16481 SetCapRule(domain, cap, flag): cap 0..18 else EINVAL; the last
//   flag written for a capability counts.
// - 16482 SetParamCheckRule(domain, check, mode*, flag): check 0..9, the
//   mode record's `mode` must index the check's argument list; keyed by
//   (domain, check, mode).
// - 16690 RemoveParamCheckRule(domain, check, mode*): ENOENT when unset.
// Journal lines: "SetCapRule <domain> <cap> <flag>", "SetParamCheckRule
// <domain> <check> <mode> <value> <flag>", "RemoveParamCheckRule <domain>
// <check> <mode> <value>".
#include "hostsim/kernel_call_args.h"

namespace HostSim::Calls {

using State::Txn;

namespace {

void CheckParamMode(Txn& txn, std::uint32_t check, const HyxAccess_ModeParam& mode) {
  const auto& checks = txn.profile().paramChecks;
  if (check > kHyxAccessParamCheckMax || check >= checks.size()) throw Refusal(EINVAL, "check");
  if (mode.mode >= checks[check].args.size()) throw Refusal(EINVAL, "mode");
}

}  // namespace

// Capability and parameter-check calls.
CallResult CapParamCall(Txn& txn, std::uint32_t number, const Args& a) {
  switch (number) {
    case kSetCapRule: {
      Kernel::RequireDomain(txn, U32(a[0]));
      const std::uint32_t cap = U32(a[1]);
      if (cap > kHyxAccessCapabilityMax || cap >= txn.profile().capabilities.size()) {
        throw Refusal(EINVAL, "capability");
      }
      txn.Exec("INSERT OR REPLACE INTO cap_rules(domain_id, cap, flag) VALUES(?, ?, ?)", U32(a[0]),
               cap, U32(a[2]));
      txn.Journal("SetCapRule " + Num(U32(a[0])) + " " + Num(cap) + " " + Num(U32(a[2])));
      break;
    }
    case kSetParamCheckRule: {
      Kernel::RequireDomain(txn, U32(a[0]));
      const auto& mode = *At<const HyxAccess_ModeParam>(a[2]);
      CheckParamMode(txn, U32(a[1]), mode);
      txn.Exec(
          "INSERT OR REPLACE INTO param_rules(domain_id, check_id, mode, value, flag) "
          "VALUES(?, ?, ?, ?, ?)",
          U32(a[0]), U32(a[1]), mode.mode, mode.value, U32(a[3]));
      txn.Journal("SetParamCheckRule " + Num(U32(a[0])) + " " + Num(U32(a[1])) + " " +
                  Num(mode.mode) + " " + Num(mode.value) + " " + Num(U32(a[3])));
      break;
    }
    case kRemoveParamCheckRule: {
      Kernel::RequireDomain(txn, U32(a[0]));
      const auto& mode = *At<const HyxAccess_ModeParam>(a[2]);
      CheckParamMode(txn, U32(a[1]), mode);
      txn.Exec("DELETE FROM param_rules WHERE domain_id=? AND check_id=? AND mode=?", U32(a[0]),
               U32(a[1]), mode.mode);
      if (txn.Changes() == 0) throw Refusal(ENOENT, "no such rule");
      txn.Journal("RemoveParamCheckRule " + Num(U32(a[0])) + " " + Num(U32(a[1])) + " " +
                  Num(mode.mode) + " " + Num(mode.value));
      break;
    }
    default:
      return Fail(ENOSYS);
  }
  return {0, 0};
}

}  // namespace HostSim::Calls
