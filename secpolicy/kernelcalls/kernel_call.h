// The calling convention of the kernel's access-control system calls, shared
// by every runtime call. Internal to the library.
//
// Each argument fills one 64-bit word: unsigned 32-bit values zero-extended,
// world ids sign-extended, char flags zero-extended from their 8 bits,
// strings and outputs by address. The kernel answers a status and a negated
// errno; only the low 32 bits of each count.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "secpolicy/platform/host_ctl_exception.h"

#define SECPOLICY_KCALL_INTERNAL __attribute__((visibility("hidden")))

namespace SecPolicy::KernelCall {

using Words = std::array<std::uint64_t, 5>;

inline std::uint64_t Unsigned(std::uint32_t value) { return value; }
inline std::uint64_t World(int worldId) {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(worldId));
}
inline std::uint64_t Flag(char flag) { return static_cast<unsigned char>(flag); }
inline std::uint64_t Address(const void* address) {
  return reinterpret_cast<std::uintptr_t>(address);
}
inline std::uint64_t String(const std::string& text) { return Address(text.c_str()); }

// Makes the call and returns the low 32 bits of its status. A non-zero error
// result sets errno to its negation; errno is otherwise left as it was, so a
// failure without an error number reports whatever errno held before.
SECPOLICY_KCALL_INTERNAL std::uint32_t Issue(std::uint32_t number, const Words& words);

// strerror(errno).
SECPOLICY_KCALL_INTERNAL std::string ErrorText();

// Makes the call; on a non-zero status throws HostCtlException with
// failureText() followed by the error text. The text is only built on failure.
template <typename FailureText>
void Call(std::uint32_t number, const Words& words, FailureText&& failureText) {
  if (Issue(number, words) != 0) {
    const std::string error = ErrorText();  // before the text can disturb errno
    throw HostCtl::Lib::HostCtlException(failureText() + error);
  }
}

}  // namespace SecPolicy::KernelCall
