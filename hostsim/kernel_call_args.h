// What the simulated kernel's call handlers share: the call numbers, how a
// call reads its caller's memory, and the result of a refusal. The calls are
// dispatched in kernel_calls.cc, one handler per call family in its own
// source (domain_calls.cc, file_policy_calls.cc, cap_param_calls.cc), each
// with its calls' decisions in its header comment. Internal to the
// simulated host.
//
// Decisions:
// - A refused call returns status 0xBAD0001 and the negated errno as the
//   second result.
// - The kernel reads and writes the caller's memory at the passed
//   addresses: strings as NUL-terminated characters (at most PATH_MAX),
//   outputs as uint32_t, records as HyxAccess_FileRule arrays. A null
//   address that must be used gives EFAULT; a record path without a NUL in
//   its 1,984 bytes or an empty one gives EINVAL.
#pragma once

#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "hostsim/kernel_state.h"
#include "hostsim/state.h"
#include "secpolicy/platform/kernel_gate.h"
#include "secpolicy/platform/kernel_records.h"

namespace HostSim {
// Hidden: nothing here is part of the library's exported interface.
namespace [[gnu::visibility("hidden")]] Calls {

using HyxCtl::Kernel::CallResult;
using Kernel::Refusal;
using Args = std::array<std::uint64_t, 5>;

inline constexpr std::uint32_t kRefused = 0xBAD0001;

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

inline CallResult Fail(int errnum, std::uint32_t status = kRefused) {
  return {status, static_cast<std::uint32_t>(-errnum)};
}

inline std::string Num(std::int64_t value) { return std::to_string(value); }
inline std::uint32_t U32(std::uint64_t word) { return static_cast<std::uint32_t>(word); }
inline std::int32_t World(std::uint64_t word) { return static_cast<std::int32_t>(U32(word)); }

template <typename T>
T* At(std::uint64_t address) {
  if (address == 0) throw Refusal(EFAULT, "null address");
  return reinterpret_cast<T*>(static_cast<std::uintptr_t>(address));
}

inline std::string StringAt(std::uint64_t address) {
  const char* text = At<const char>(address);
  return std::string(text, strnlen(text, PATH_MAX));
}

inline std::string RecordPath(const HyxAccess_FileRule& record) {
  const std::size_t length = strnlen(record.path, kFileRulePathSize);
  if (length == kFileRulePathSize) throw Refusal(EINVAL, "path without NUL");
  if (length == 0) throw Refusal(EINVAL, "empty path");
  return std::string(record.path, length);
}

// The call families. Each runs in the caller's write transaction, which is
// committed only when the call succeeds; a refusal is thrown as
// Kernel::Refusal, a number not of the family gives ENOSYS.
CallResult DomainCall(State::Txn& txn, std::uint32_t number, const Args& a);
CallResult FilePolicyCall(State::Txn& txn, std::uint32_t number, const Args& a);
CallResult CapParamCall(State::Txn& txn, std::uint32_t number, const Args& a);

}  // namespace Calls
}  // namespace HostSim
