// The simulated kernel's file policy calls.
//
// Decisions:
// - 16479 AddFilePolicyBatch(world, domain, records, count, out): upserts
//   each record (key domain + world + path); *out receives the number of
//   file policies the domain holds afterwards.
// - 16476 RemoveFilePolicy(world, domain, path): ENOENT when no such policy.
// - 16475 UpdateFilePolicy(domain, path, mask): sets the mask of the path in
//   every world of the domain; ENOENT when the domain has no such path.
// - 16478 RetrieveNumberOfFilePolicies(domain, out).
// - 16477 RetrieveFilePolicies(domain, array, count): the domain's policies
//   in the order they were first added, all worlds together; with too small
//   an array, status 0xBAD011F (retry) and ENOBUFS.
// - 16487 ReplaceFilePolicyVMs(old, new): renames the path of every file
//   policy (all domains and worlds) that names `old`; ENOENT when none does.
// Journal lines: "AddFilePolicyBatch <world> <domain> <count> {<path>
// <mask>}", "RemoveFilePolicy <world> <domain> <path>", "UpdateFilePolicy
// <domain> <path> <mask>", "ReplaceFilePolicyVMs <old> <new>". Masks in
// hexadecimal.
#include "hostsim/kernel_call_args.h"

#include <algorithm>

namespace HostSim::Calls {

using State::Txn;

// File policy calls: add, remove, update, count, read back, rename.
CallResult FilePolicyCall(Txn& txn, std::uint32_t number, const Args& a) {
  switch (number) {
    case kAddFilePolicyBatch: {
      const std::int32_t world = World(a[0]);
      const std::uint32_t domain = U32(a[1]);
      const std::uint32_t count = U32(a[3]);
      auto* out = At<std::uint32_t>(a[4]);
      Kernel::RequireDomain(txn, domain);
      const auto* records = count == 0 ? nullptr : At<const HyxAccess_FileRule>(a[2]);
      std::string line = "AddFilePolicyBatch " + Num(world) + " " + Num(domain) + " " + Num(count);
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::string path = RecordPath(records[i]);
        Kernel::PutFilePolicy(txn, domain, world, path, records[i].permissions);
        line += " " + path + " " + Kernel::Hex(records[i].permissions);
      }
      *out = Kernel::FilePolicyCount(txn, domain);
      txn.Journal(line);
      break;
    }
    case kRemoveFilePolicy: {
      const std::string path = StringAt(a[2]);
      txn.Exec("DELETE FROM file_policies WHERE world=? AND domain_id=? AND path=?", World(a[0]),
               U32(a[1]), path);
      if (txn.Changes() == 0) throw Refusal(ENOENT, "no such policy");
      txn.Journal("RemoveFilePolicy " + Num(World(a[0])) + " " + Num(U32(a[1])) + " " + path);
      break;
    }
    case kUpdateFilePolicy: {
      const std::string path = StringAt(a[1]);
      txn.Exec("UPDATE file_policies SET mask=? WHERE domain_id=? AND path=?", U32(a[2]), U32(a[0]),
               path);
      if (txn.Changes() == 0) throw Refusal(ENOENT, "no such policy");
      txn.Journal("UpdateFilePolicy " + Num(U32(a[0])) + " " + path + " " + Kernel::Hex(U32(a[2])));
      break;
    }
    case kRetrieveNumberOfFilePolicies: {
      auto* out = At<std::uint32_t>(a[1]);
      Kernel::RequireDomain(txn, U32(a[0]));
      *out = Kernel::FilePolicyCount(txn, U32(a[0]));
      break;
    }
    case kRetrieveFilePolicies: {
      Kernel::RequireDomain(txn, U32(a[0]));
      const std::uint32_t held = Kernel::FilePolicyCount(txn, U32(a[0]));
      if (held > U32(a[2])) return Fail(ENOBUFS, kHyxAccessStatusRetry);
      if (held == 0) break;
      auto* records = At<HyxAccess_FileRule>(a[1]);
      State::Stmt s =
          txn.Query("SELECT path, mask FROM file_policies WHERE domain_id=? ORDER BY seq", U32(a[0]));
      for (std::size_t i = 0; s.Step(); ++i) {
        const std::string path = s.Text(0);
        std::memset(records[i].path, 0, sizeof records[i].path);
        std::memcpy(records[i].path, path.data(), std::min(path.size(), kFileRulePathSize - 1));
        records[i].permissions = s.U32(1);
      }
      break;
    }
    case kReplaceFilePolicyVMs: {
      const std::string from = StringAt(a[0]);
      const std::string to = StringAt(a[1]);
      if (to.empty()) throw Refusal(EINVAL, "empty path");
      // A policy that already names `to` in the same domain and world gives
      // way, as a plain delete so that the policy counts follow.
      txn.Exec(
          "DELETE FROM file_policies WHERE path=?1 AND ?1 != ?2 AND (domain_id, world) IN "
          "(SELECT domain_id, world FROM file_policies WHERE path=?2)",
          to, from);
      txn.Exec("UPDATE file_policies SET path=? WHERE path=?", to, from);
      if (txn.Changes() == 0) throw Refusal(ENOENT, "no such policy");
      txn.Journal("ReplaceFilePolicyVMs " + from + " " + to);
      break;
    }
    default:
      return Fail(ENOSYS);
  }
  return {0, 0};
}

}  // namespace HostSim::Calls
