// The simulated kernel's numbered access-control calls: which family
// handles a number, the fault check before it, one transaction around it;
// and path resolution. The families and what the calls share are in
// kernel_call_args.h.
//
// Decisions:
// - An unknown call number returns ENOSYS; a failure of the state itself
//   EIO, also printed on standard error ("Error: hostsim state ...").
// - Journal lines: the call's name and its arguments as the kernel read
//   them (each family's source lists its own).
// - Kernel faults are matched against the string arguments and the numbers
//   in decimal (world ids signed).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "hostsim/kernel_call_args.h"
#include "hostsim/kernel_state.h"
#include "secpolicy/platform/kernel_records.h"

namespace HostSim {

namespace {

using namespace Calls;
using State::Txn;

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
