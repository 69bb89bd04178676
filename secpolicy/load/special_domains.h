// The policy directory layout, and the four special domains whose kernel
// ids a full load looks up and keeps for the life of the process.
#pragma once

#include <cstdint>
#include <string>

#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/visibility.h"

namespace SecPolicy {

// "/etc/norvane/secpolicy".
extern const std::string DefaultPolicyDir;

// Sub-directories of a policy directory; a path is dir + "/" + name.
inline constexpr char ObjectsDirName[] = "objects";
inline constexpr char DomainsDirName[] = "domains";
inline constexpr char TardisksDirName[] = "tardisks";
inline constexpr char FileLabelsDirName[] = "fileLabels";

// Ids stored by the last full load that found them; 0 before any. Plain
// process-wide values: concurrent loads are not coordinated.
std::uint32_t GetGlobalVMDomain();        // "globalVMDom"
std::uint32_t GetIOFilterDomain();        // "ioFilterDom"
std::uint32_t GetDefaultTardiskDomain();  // "appDom"
std::uint32_t GetDaemonFrameworkDomain(); // "daemonFrameworkDom"

// Looks the four special domains up in that order, stores each id and
// announces it to the kernel (no call for "appDom"). A missing one is
// reported ("Failed to fetch domainID for ...") and thrown as a
// HostCtlException of the same text; the later ones are then not looked at.
// Kernel library failures pass out unreported.
void LookUpSpecialDomains(HyxCtl::Security::HyxAccessInterfaceImpl& iface);

SECPOLICY_INTERNAL void StoreGlobalVMDomain(std::uint32_t id);
SECPOLICY_INTERNAL void StoreIOFilterDomain(std::uint32_t id);
SECPOLICY_INTERNAL void StoreDefaultTardiskDomain(std::uint32_t id);
SECPOLICY_INTERNAL void StoreDaemonFrameworkDomain(std::uint32_t id);

}  // namespace SecPolicy
