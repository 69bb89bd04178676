// The simulated kernel's numbered access-control calls and path resolution.
//
// Decisions:
// - A refused call returns status 0xBAD0001 and the negated errno as the
//   second result; an unknown call number returns ENOSYS; a failure of the
//   state itself EIO. RetrieveFilePolicies with too small an array returns
//   status 0xBAD011F (retry) and ENOBUFS. A failure of the state is also
//   printed on standard error ("Error: hostsim state ...").
// - The kernel reads and writes the caller's memory at the passed
//   addresses: strings as NUL-terminated characters, outputs as uint32_t,
//   records as HyxAccess_FileRule arrays. A null address that must be used
//   gives EFAULT; a record path without a NUL in its 1,984 bytes or an empty
//   one gives EINVAL.
// - 16473 CreateDomain(name, defaultDom, out id).
// - 16474 DestroyDomain(id, 0): ENOENT for an unknown id.
// - 16484 RetrieveLeakedDomains(ids, countOut, capacity): writes up to
//   `capacity` leaked domain ids (ascending) into the uint32_t array `ids`
//   and the number written into *countOut.
// - 16485 GetDomainIDForWorld(world, out): ESRCH for an unknown world.
// - 16486 GetDomainNameForID(id, buf, size): the name, NUL-terminated,
//   truncated to size - 1 bytes.
// - 16479 AddFilePolicyBatch(world, domain, records, count, out): upserts
//   each record (key domain + world + path); *out receives the number of
//   file policies the domain holds afterwards.
// - 16476 RemoveFilePolicy(world, domain, path): ENOENT when no such policy.
// - 16475 UpdateFilePolicy(domain, path, mask): sets the mask of the path in
//   every world of the domain; ENOENT when the domain has no such path.
// - 16478 RetrieveNumberOfFilePolicies(domain, out).
// - 16477 RetrieveFilePolicies(domain, array, count): the domain's policies
//   in the order they were first added, all worlds together.
// - 16487 ReplaceFilePolicyVMs(old, new): renames the path of every file
//   policy (all domains and worlds) that names `old`; ENOENT when none does.
// - 16481 SetCapRule(domain, cap, flag): cap 0..18 else EINVAL; the last
//   flag written for a capability counts.
// - 16482 SetParamCheckRule(domain, check, mode*, flag): check 0..9, the
//   mode record's `mode` must index the check's argument list; keyed by
//   (domain, check, mode).
// - 16690 RemoveParamCheckRule(domain, check, mode*): ENOENT when unset.
// Journal lines: the call's name and its arguments as the kernel read them,
// for example "AddFilePolicyBatch <world> <domain> <count> {<path> <mask>}",
// "RemoveFilePolicy <world> <domain> <path>", "UpdateFilePolicy <domain>
// <path> <mask>", "ReplaceFilePolicyVMs <old> <new>", "SetCapRule <domain>
// <cap> <flag>", "SetParamCheckRule <domain> <check> <mode> <value> <flag>",
// "RemoveParamCheckRule <domain> <check> <mode> <value>", "CreateDomain <id>
// <name> <defaultDom>", "DestroyDomain <id> <name>". Masks in hexadecimal.
// Kernel faults are matched against the string arguments and the numbers in
// decimal (world ids signed).
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "hostsim/admin.h"
#include "hostsim/kernel_state.h"
#include "secpolicy/platform/kernel_records.h"

namespace HostSim {

namespace {

using HyxCtl::Kernel::CallResult;
using Kernel::Refusal;
using State::Txn;
using Args = std::array<std::uint64_t, 5>;

constexpr std::uint32_t kRefused = 0xBAD0001;

enum Call : std::uint32_t {
  kCreateDomain = 16473,
  kDestroyDomain = 16474,
  kUpdateFilePolicy = 16475,
  kRemoveFilePolicy = 16476,
  kRetrieveFilePolicies = 16477,
  kRetrieveNumberOfFilePolicies = 16478,
  kAddFilePolicyBatch = 16479,
  kSetCapRule = 16481,
  kSetParamCheckRule = 16482,
  kRetrieveLeakedDomains = 16484,
  kGetDomainIDForWorld = 16485,
  kGetDomainNameForID = 16486,
  kReplaceFilePolicyVMs = 16487,
  kRemoveParamCheckRule = 16690,
};

CallResult Fail(int errnum, std::uint32_t status = kRefused) {
  return {status, static_cast<std::uint32_t>(-errnum)};
}

std::string Num(std::int64_t value) { return std::to_string(value); }
std::uint32_t U32(std::uint64_t word) { return static_cast<std::uint32_t>(word); }
std::int32_t World(std::uint64_t word) { return static_cast<std::int32_t>(U32(word)); }

template <typename T>
T* At(std::uint64_t address) {
  if (address == 0) throw Refusal(EFAULT, "null address");
  return reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

std::string StringAt(std::uint64_t address) {
  const char* text = At<const char>(address);
  return std::string(text, strnlen(text, PATH_MAX));
}

std::string RecordPath(const HyxAccess_FileRule& record) {
  const std::size_t length = strnlen(record.path, kFileRulePathSize);
  if (length == kFileRulePathSize) throw Refusal(EINVAL, "path without NUL");
  if (length == 0) throw Refusal(EINVAL, "empty path");
  return std::string(record.path, length);
}

void CheckParamMode(Txn& txn, std::uint32_t check, const HyxAccess_ModeParam& mode) {
  const auto& checks = txn.profile().paramChecks;
  if (check > kHyxAccessParamCheckMax || check >= checks.size()) throw Refusal(EINVAL, "check");
  if (mode.mode >= checks[check].args.size()) throw Refusal(EINVAL, "mode");
}

// Names and fault-match arguments of a call, read before it runs.
struct CallInfo {
  const char* name = nullptr;
  std::vector<std::string> args;
};

CallInfo Describe(std::uint32_t number, const Args& a) {
  switch (number) {
    case kCreateDomain: return {"CreateDomain", {StringAt(a[0]), Num(U32(a[1]))}};
    case kDestroyDomain: return {"DestroyDomain", {Num(U32(a[0]))}};
    case kRetrieveLeakedDomains: return {"RetrieveLeakedDomains", {Num(static_cast<std::int64_t>(a[2]))}};
    case kGetDomainIDForWorld: return {"GetDomainIDForWorld", {Num(World(a[0]))}};
    case kGetDomainNameForID: return {"GetDomainNameForID", {Num(U32(a[0]))}};
    case kAddFilePolicyBatch: {
      CallInfo info{"AddFilePolicyBatch", {Num(World(a[0])), Num(U32(a[1])), Num(U32(a[3]))}};
      if (a[2] != 0) {
        const auto* records = At<const HyxAccess_FileRule>(a[2]);
        for (std::uint32_t i = 0; i < U32(a[3]); ++i) {
          info.args.emplace_back(records[i].path, strnlen(records[i].path, kFileRulePathSize));
        }
      }
      return info;
    }
    case kRemoveFilePolicy:
      return {"RemoveFilePolicy", {Num(World(a[0])), Num(U32(a[1])), StringAt(a[2])}};
    case kUpdateFilePolicy:
      return {"UpdateFilePolicy", {Num(U32(a[0])), StringAt(a[1]), Num(U32(a[2]))}};
    case kRetrieveNumberOfFilePolicies: return {"RetrieveNumberOfFilePolicies", {Num(U32(a[0]))}};
    case kRetrieveFilePolicies: return {"RetrieveFilePolicies", {Num(U32(a[0])), Num(U32(a[2]))}};
    case kReplaceFilePolicyVMs: return {"ReplaceFilePolicyVMs", {StringAt(a[0]), StringAt(a[1])}};
    case kSetCapRule: return {"SetCapRule", {Num(U32(a[0])), Num(U32(a[1])), Num(U32(a[2]))}};
    case kSetParamCheckRule: return {"SetParamCheckRule", {Num(U32(a[0])), Num(U32(a[1])), Num(U32(a[3]))}};
    case kRemoveParamCheckRule: return {"RemoveParamCheckRule", {Num(U32(a[0])), Num(U32(a[1]))}};
    default: return {};
  }
}

// Domain and world calls: create, destroy, leaked domains, lookups.
CallResult DomainCall(Txn& txn, std::uint32_t number, const Args& a) {
  switch (number) {
    case kCreateDomain: {
      const std::string name = StringAt(a[0]);
      auto* out = At<std::uint32_t>(a[2]);
      const std::uint32_t id = Kernel::CreateDomain(txn, name, U32(a[1]));
      txn.Journal("CreateDomain " + Num(id) + " " + name + " " + Num(U32(a[1])));
      *out = id;
      break;
    }
    case kDestroyDomain: {
      const std::string name = Kernel::RequireDomain(txn, U32(a[0]));
      Kernel::DestroyDomain(txn, U32(a[0]));
      txn.Journal("DestroyDomain " + Num(U32(a[0])) + " " + name);
      break;
    }
    case kRetrieveLeakedDomains: {
      auto* written = At<std::uint32_t>(a[1]);
      std::uint32_t* ids = a[2] == 0 ? nullptr : At<std::uint32_t>(a[0]);
      std::uint32_t count = 0;
      State::Stmt s = txn.Query("SELECT domain_id FROM leaked ORDER BY domain_id");
      while (count < a[2] && s.Step()) ids[count++] = s.U32(0);
      *written = count;
      break;
    }
    case kGetDomainIDForWorld: {
      auto* out = At<std::uint32_t>(a[1]);
      State::Stmt s = txn.Query("SELECT domain_id FROM worlds WHERE world=?", World(a[0]));
      if (!s.Step()) throw Refusal(ESRCH, "no such world");
      *out = s.U32(0);
      break;
    }
    case kGetDomainNameForID: {
      const std::string name = Kernel::RequireDomain(txn, U32(a[0]));
      const std::uint64_t size = a[2];
      if (size == 0) throw Refusal(EINVAL, "empty buffer");
      char* buffer = At<char>(a[1]);
      const std::size_t length = std::min<std::uint64_t>(name.size(), size - 1);
      std::memcpy(buffer, name.data(), length);
      buffer[length] = '\0';
      break;
    }
    default:
      return Fail(ENOSYS);
  }
  return {0, 0};
}

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

// Runs one call in one write transaction, committed only when it succeeds.
CallResult Perform(std::uint32_t number, const Args& a) {
  Txn txn(Txn::kWrite);
  CallResult result{};
  switch (number) {
    case kCreateDomain:
    case kDestroyDomain:
    case kRetrieveLeakedDomains:
    case kGetDomainIDForWorld:
    case kGetDomainNameForID:
      result = DomainCall(txn, number, a);
      break;
    case kAddFilePolicyBatch:
    case kRemoveFilePolicy:
    case kUpdateFilePolicy:
    case kRetrieveNumberOfFilePolicies:
    case kRetrieveFilePolicies:
    case kReplaceFilePolicyVMs:
      result = FilePolicyCall(txn, number, a);
      break;
    case kSetCapRule:
    case kSetParamCheckRule:
    case kRemoveParamCheckRule:
      result = CapParamCall(txn, number, a);
      break;
    default:
      return Fail(ENOSYS);
  }
  if (result.status == 0) txn.Commit();
  return result;
}

std::mutex gateMutex;

Gate& CurrentGate() {
  static Gate gate = SimulatedKernelCall;
  return gate;
}

}  // namespace

CallResult SimulatedKernelCall(std::uint32_t number, const Args& args) {
  try {
    const CallInfo info = Describe(number, args);
    if (info.name == nullptr) return Fail(ENOSYS);
    if (auto hit = State::TakeFault(info.name, true, info.args)) {
      return {hit->status.value_or(kRefused), static_cast<std::uint32_t>(-hit->errnum.value_or(EPERM))};
    }
    return Perform(number, args);
  } catch (const Refusal& refusal) {
    return Fail(refusal.errnum());
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    // The caller sees only EIO; the user needs to know why.
    std::fprintf(stderr, "Error: %s\n", failure.what());
    return Fail(EIO);
  }
}

Gate ReplaceKernelGate(Gate gate) {
  std::lock_guard lock(gateMutex);
  Gate previous = std::move(CurrentGate());
  CurrentGate() = gate ? std::move(gate) : Gate(SimulatedKernelCall);
  return previous;
}

}  // namespace HostSim

namespace HyxCtl::Kernel {

CallResult AccessControlCall(std::uint32_t number, std::uint64_t a1, std::uint64_t a2,
                             std::uint64_t a3, std::uint64_t a4, std::uint64_t a5) {
  HostSim::Gate gate;
  {
    std::lock_guard lock(HostSim::gateMutex);
    gate = HostSim::CurrentGate();
  }
  return gate(number, {a1, a2, a3, a4, a5});
}

int HostPrctl(int option, unsigned long arg2, unsigned long arg3) {
  if (option != kResolvePathOption) {
    errno = EINVAL;
    return -1;
  }
  if (arg2 == 0 || arg3 == 0) {
    errno = EFAULT;
    return -1;
  }
  const char* path = reinterpret_cast<const char*>(arg2);
  char* out = reinterpret_cast<char*>(arg3);
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path, nullptr), &std::free);
  if (!resolved) return -1;
  const std::size_t length = std::min(std::strlen(resolved.get()), kFileRulePathSize - 1);
  std::memcpy(out, resolved.get(), length);
  out[length] = '\0';
  return 0;
}

}  // namespace HyxCtl::Kernel
