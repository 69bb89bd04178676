// Runtime calls on domains and worlds, straight to the kernel's
// access-control system calls. Each throws HostCtl::Lib::HostCtlException
// with the call's failure text followed by the system's error text.
#pragma once

#include <string>

#include "secpolicy/platform/hyx_access.h"

namespace SecPolicy {

unsigned int CreateDomain(const std::string& name, HyxAccessQsi_DefaultDom defaultDom);
void DestroyDomain(unsigned int domainId);
unsigned int GetDomainIDForWorld(int worldId);
std::string GetDomainNameForID(unsigned int domainId);
// The kernel fills the caller's storage; the values are passed on in the
// order third, second, count.
void RetrieveLeakedDomains(unsigned long count, unsigned int* second, unsigned int* third);
void AddHvcService(unsigned int domainId, const std::string& service);

}  // namespace SecPolicy
