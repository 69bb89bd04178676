// Runtime calls on a domain's capability and parameter-check rules.
#pragma once

#include "secpolicy/platform/kernel_records.h"

namespace SecPolicy {

void SetCapRule(unsigned int domainId, HyxAccess_Capability capability, char flag);
void SetParamCheckRule(unsigned int domainId, HyxAccess_ParamCheck check,
                       const HyxAccess_ModeParam* mode, char flag);
void RemoveParamCheckRule(unsigned int domainId, HyxAccess_ParamCheck check,
                          const HyxAccess_ModeParam* mode);

}  // namespace SecPolicy
