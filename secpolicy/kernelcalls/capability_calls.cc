#include "secpolicy/kernelcalls/capability_calls.h"

#include "secpolicy/kernelcalls/kernel_call.h"

namespace SecPolicy {

namespace {
namespace K = KernelCall;

constexpr std::uint32_t kSetCapRule = 0x4061;
constexpr std::uint32_t kSetParamCheckRule = 0x4062;
constexpr std::uint32_t kRemoveParamCheckRule = 0x4132;

// The range is tested before the address.
void CheckParamCheckArguments(HyxAccess_ParamCheck check, const HyxAccess_ModeParam* mode) {
  if (check > kHyxAccessParamCheckMax) {
    throw HostCtl::Lib::HostCtlException("ParamCheck is not in range");
  }
  if (mode == nullptr) throw HostCtl::Lib::HostCtlException("Mode Param is NULL");
}

auto FailureText(const char* first, unsigned int domainId) {
  return [=] { return first + std::string(": ") + std::to_string(domainId) + ":"; };
}
}  // namespace

void SetCapRule(unsigned int domainId, HyxAccess_Capability capability, char flag) {
  if (capability > kHyxAccessCapabilityMax) {
    throw HostCtl::Lib::HostCtlException("Capability is not in range");
  }
  K::Call(kSetCapRule, {K::Unsigned(domainId), K::Unsigned(capability), K::Flag(flag)},
          FailureText("Failed to set capability rule for domain :", domainId));
}

void SetParamCheckRule(unsigned int domainId, HyxAccess_ParamCheck check,
                       const HyxAccess_ModeParam* mode, char flag) {
  CheckParamCheckArguments(check, mode);
  K::Call(kSetParamCheckRule,
          {K::Unsigned(domainId), K::Unsigned(check), K::Address(mode), K::Flag(flag)},
          FailureText("Failed to set parameter check rule for domain :", domainId));
}

void RemoveParamCheckRule(unsigned int domainId, HyxAccess_ParamCheck check,
                          const HyxAccess_ModeParam* mode) {
  CheckParamCheckArguments(check, mode);
  K::Call(kRemoveParamCheckRule, {K::Unsigned(domainId), K::Unsigned(check), K::Address(mode)},
          FailureText("Failed to remove parameter check rule for domain :", domainId));
}

}  // namespace SecPolicy
