#include "secpolicy/kernelcalls/kernel_call.h"

#include <cerrno>
#include <cstring>

#include "secpolicy/platform/kernel_gate.h"

namespace SecPolicy::KernelCall {

std::uint32_t Issue(std::uint32_t number, const Words& words) {
  const HyxCtl::Kernel::CallResult result =
      HyxCtl::Kernel::AccessControlCall(number, words[0], words[1], words[2], words[3], words[4]);
  const auto negatedErrno = static_cast<std::uint32_t>(result.error);
  // Negated in unsigned arithmetic: no overflow whatever the kernel answers.
  if (negatedErrno != 0) errno = static_cast<int>(0u - negatedErrno);
  return static_cast<std::uint32_t>(result.status);
}

std::string ErrorText() { return std::strerror(errno); }

}  // namespace SecPolicy::KernelCall
