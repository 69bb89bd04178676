// The gate through which the host kernel's numbered access-control calls are
// made: a call number and five 64-bit argument words in, two results out.
#pragma once

#include <cstdint>

namespace HyxCtl::Kernel {

struct CallResult {
  std::uint64_t status;  // low 32 bits count: 0 success, else a failure code
  std::uint64_t error;   // low 32 bits count: a negated errno, 0 for none
};

// Issues one access-control call. Unused argument words are passed as 0.
CallResult AccessControlCall(std::uint32_t number, std::uint64_t a1 = 0,
                             std::uint64_t a2 = 0, std::uint64_t a3 = 0,
                             std::uint64_t a4 = 0, std::uint64_t a5 = 0);

// The host kernel's own path resolution, reached through prctl. With
// kResolvePathOption, arg2 is the address of a NUL-terminated path and arg3
// the address of a kFileRulePathSize-byte buffer that receives the resolved
// path. Returns 0 on success.
inline constexpr int kResolvePathOption = 4109;  // 0x100D
int HostPrctl(int option, unsigned long arg2, unsigned long arg3);

}  // namespace HyxCtl::Kernel
