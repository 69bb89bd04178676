// Records and enumerations shared with the host kernel's access-control
// system calls. Layouts are fixed: the kernel reads and writes them in the
// caller's memory.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kFileRulePathSize = 1984;

// One file rule: a NUL-terminated path and a permission mask
// (0x1 read, 0x2 write, 0x10 execute). Arrays are laid end to end.
struct HyxAccess_FileRule {
  char path[kFileRulePathSize];
  std::uint32_t permissions;
};
static_assert(sizeof(HyxAccess_FileRule) == 1988);
static_assert(offsetof(HyxAccess_FileRule, permissions) == 1984);

// Capabilities, 0 to 18; the kernel knows no others.
enum HyxAccess_Capability : std::uint32_t {};
inline constexpr std::uint32_t kHyxAccessCapabilityMax = 18;

// Parameter checks, 0 to 9.
enum HyxAccess_ParamCheck : std::uint32_t {};
inline constexpr std::uint32_t kHyxAccessParamCheckMax = 9;

// Mode of a parameter check, read by the kernel only.
struct HyxAccess_ModeParam {
  std::uint32_t mode;   // index of the argument word in the check's word list
  std::uint32_t value;  // numeric argument, where the check takes one
};

// Status with which the kernel asks the caller to retry a file-policy read
// (the caller's array is too small for the domain's rules).
inline constexpr std::uint32_t kHyxAccessStatusRetry = 0xBAD011F;
