// Display of the domains held by the kernel, with their rules.
#pragma once

#include <string>

#include "secpolicy/platform/hyx_access.h"

namespace SecPolicy {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// Every domain, or the one whose id `domain` holds in decimal.
void DisplayPolicyDomains(HyxAccessInterfaceImpl& iface, const std::string& domain);
void DisplayDomainPolicy(HyxAccessInterfaceImpl& iface, unsigned int domainId);

}  // namespace SecPolicy
