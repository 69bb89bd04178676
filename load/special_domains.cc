#include "load/special_domains.h"

namespace SecPolicy {

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

}  // namespace SecPolicy
