// Loading a directory of domain policy files, one file per domain.
#pragma once

#include <string>

#include "secpolicy/platform/hyx_access.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// Finds or creates every domain named by a file of `dir`, then parses all
// files, checks all domains and writes all domains, in three passes. Throws
// "Failure in domain policy" when any domain failed.
void LoadPolicyDomains(const std::string& dir, HyxAccessInterfaceImpl& iface);

// Loads "/etc/norvane/secpolicy/domains/plugins" when it is a directory.
void LoadPartnerPolicyDomains(HyxAccessInterfaceImpl& iface);

}  // namespace SecPolicy
