// The check-access template domain and the restore of stored enforcement
// levels.
#pragma once

#include "secpolicy/platform/hyx_access.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// Creates "checkAccessTemplateDom" with its single "/" rule when the host
// option "/UserVars/CheckAccessTemplateEnabled" is a non-zero integer.
void CreateCheckAccessPolicyDomain(HyxAccessInterfaceImpl& iface);

// Applies every domain's stored "enforcement_level" and sets the store
// object's boot status.
void RestoreDomainEnforcement(HyxAccessInterfaceImpl& iface);

// Entry point with its own kernel handle; reports failures, throws none.
void RestoreDomainEnforcement();

}  // namespace SecPolicy
