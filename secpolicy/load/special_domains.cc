#include "secpolicy/load/special_domains.h"

#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;

const std::string DefaultPolicyDir = "/etc/norvane/secpolicy";

namespace {

std::uint32_t globalVMDomain = 0;
std::uint32_t ioFilterDomain = 0;
std::uint32_t defaultTardiskDomain = 0;
std::uint32_t daemonFrameworkDomain = 0;

}  // namespace

std::uint32_t GetGlobalVMDomain() { return globalVMDomain; }
std::uint32_t GetIOFilterDomain() { return ioFilterDomain; }
std::uint32_t GetDefaultTardiskDomain() { return defaultTardiskDomain; }
std::uint32_t GetDaemonFrameworkDomain() { return daemonFrameworkDomain; }

void StoreGlobalVMDomain(std::uint32_t id) { globalVMDomain = id; }
void StoreIOFilterDomain(std::uint32_t id) { ioFilterDomain = id; }
void StoreDefaultTardiskDomain(std::uint32_t id) { defaultTardiskDomain = id; }
void StoreDaemonFrameworkDomain(std::uint32_t id) { daemonFrameworkDomain = id; }

namespace {

struct SpecialDomain {
  const char* name;
  void (*store)(std::uint32_t);
  void (HyxAccessInterfaceImpl::*announce)(std::uint32_t);  // null: the kernel is not told
  const char* missing;
};

const SpecialDomain kSpecialDomains[] = {
    {"globalVMDom", StoreGlobalVMDomain, &HyxAccessInterfaceImpl::SetGlobalVMDomain,
     "Failed to fetch domainID for global VM Domain"},
    {"ioFilterDom", StoreIOFilterDomain, &HyxAccessInterfaceImpl::SetIoFilterDomain,
     "Failed to fetch domainID for IOFilter domain"},
    {"appDom", StoreDefaultTardiskDomain, nullptr,
     "Failed to fetch domainID for default tar disk domain"},
    {"daemonFrameworkDom", StoreDaemonFrameworkDomain,
     &HyxAccessInterfaceImpl::SetDaemonFrameworkDomain,
     "Failed to fetch domainID for daemon framework domain"},
};

}  // namespace

void LookUpSpecialDomains(HyxAccessInterfaceImpl& iface) {
  for (const SpecialDomain& special : kSpecialDomains) {
    std::uint32_t id = 0;
    if (!iface.FindDomain(special.name, &id)) {
      SecpolicyError(special.missing);
      throw HostCtlException(special.missing);
    }
    special.store(id);
    if (special.announce != nullptr) (iface.*special.announce)(id);
  }
}

}  // namespace SecPolicy
