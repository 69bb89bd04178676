// Temporary placeholders: every host declaration exists so that the system
// links while the simulated host is filled in. Each body throws.
#include <cerrno>

#include "hostsim/admin.h"
#include "platform/advanced_options.h"
#include "platform/config_store.h"
#include "platform/host_ctl_exception.h"
#include "platform/host_files.h"
#include "platform/host_system.h"
#include "platform/hyx_access.h"
#include "platform/kernel_gate.h"
#include "platform/sysinfo.h"

namespace {
[[noreturn]] void NotYet() { throw HostCtl::Lib::HostCtlException("not implemented"); }
}  // namespace

const std::uint16_t QSI_NODE_system_lumenfs_inodes_stats = 0x2A7;

bool File_Exists(const char*) { NotYet(); }
bool File_IsDirectory(const char*) { NotYet(); }

namespace HostCtl::Adv {
AdvancedOption::~AdvancedOption() = default;
AdvancedIntegerOption::~AdvancedIntegerOption() = default;
AdvancedStringOption::~AdvancedStringOption() = default;
}  // namespace HostCtl::Adv

namespace HyxCtl::Adv {
AdvancedOptionImpl::AdvancedOptionImpl() = default;
AdvancedOptionImpl::~AdvancedOptionImpl() = default;
HostCtl::Adv::AdvancedOption* AdvancedOptionImpl::FindOption(const std::string&) { NotYet(); }
}  // namespace HyxCtl::Adv

namespace PalConfigStore {
ConfigStoreObjectId::ConfigStoreObjectId(const std::string& component, const std::string& group,
                                         const std::string& owner, const std::string& name)
    : component_(component), group_(group), owner_(owner), name_(name) {}
StoreObject::~StoreObject() = default;
std::shared_ptr<StoreObject> GetDesiredUserConfig(const ConfigStoreObjectId&, FLAG) { NotYet(); }
bool SetBootStatus(const ConfigStoreObjectId&, bool) { NotYet(); }
}  // namespace PalConfigStore

namespace HyxCtl::System {
bool SyslogIsRunning() { NotYet(); }
void WriteToKlog(const std::string&, const std::string&) {}
}  // namespace HyxCtl::System

namespace HyxCtl::Kernel {
CallResult AccessControlCall(std::uint32_t, std::uint64_t, std::uint64_t, std::uint64_t,
                             std::uint64_t, std::uint64_t) {
  NotYet();
}
int HostPrctl(int, unsigned long, unsigned long) { NotYet(); }
}  // namespace HyxCtl::Kernel

namespace HyxCtl::Util {
Sysinfo::Sysinfo(unsigned int nodeId) : node_(nodeId) {}
Sysinfo::~Sysinfo() = default;
void Sysinfo::AddInstancePath(unsigned long) { NotYet(); }
void Sysinfo::Get(void*, unsigned int) { NotYet(); }
}  // namespace HyxCtl::Util

namespace HyxCtl::Security {
struct HyxAccessInterfaceImpl::Impl {};
HyxAccessInterfaceImpl::HyxAccessInterfaceImpl() = default;
HyxAccessInterfaceImpl::~HyxAccessInterfaceImpl() = default;
bool HyxAccessInterfaceImpl::ValidateKeyword(HyxAccess_KeywordType, const std::string&) { NotYet(); }
std::map<std::string, std::int64_t> HyxAccessInterfaceImpl::GetKeywordsMap(HyxAccess_KeywordType) { NotYet(); }
bool HyxAccessInterfaceImpl::FindDomain(const std::string&, std::uint32_t*) { NotYet(); }
std::uint32_t HyxAccessInterfaceImpl::CreateDomain(const std::string&, HyxAccessQsi_DefaultDom) { NotYet(); }
std::uint32_t HyxAccessInterfaceImpl::GetMaxDomains() { NotYet(); }
bool HyxAccessInterfaceImpl::GetCompleteDomainInfo(std::uint32_t, std::string&, std::string&,
                                                   std::uint32_t&, std::uint32_t&, std::uint32_t&,
                                                   HyxAccessQsi_DefaultDom&) { NotYet(); }
bool HyxAccessInterfaceImpl::EnableDomain(const std::string&, const std::string&, bool) { NotYet(); }
void HyxAccessInterfaceImpl::SetGlobalVMDomain(std::uint32_t) { NotYet(); }
void HyxAccessInterfaceImpl::SetIoFilterDomain(std::uint32_t) { NotYet(); }
void HyxAccessInterfaceImpl::SetDaemonFrameworkDomain(std::uint32_t) { NotYet(); }
void HyxAccessInterfaceImpl::AddHvcService(std::uint32_t, const std::string&) { NotYet(); }
bool HyxAccessInterfaceImpl::IsPrivilegedVm(const std::string&) { NotYet(); }
bool HyxAccessInterfaceImpl::SetSyscallRule(HyxAccess_SyscallRule) { NotYet(); }
bool HyxAccessInterfaceImpl::SetCapabilityRule(HyxAccess_CapabilityRule) { NotYet(); }
bool HyxAccessInterfaceImpl::SetCapabilityParamRule(HyxAccess_CapabilityParamRule) { NotYet(); }
bool HyxAccessInterfaceImpl::SetObjectAccessRule(HyxAccess_ObjectAccessRule) { NotYet(); }
bool HyxAccessInterfaceImpl::SetDomTransRule(HyxAccess_DomTransRule) { NotYet(); }
bool HyxAccessInterfaceImpl::SetFileCreationRule(HyxAccess_FileCreationRule) { NotYet(); }
bool HyxAccessInterfaceImpl::SetUnixSockCreationRule(HyxAccess_UnixSockCreationRule) { NotYet(); }
bool HyxAccessInterfaceImpl::SetFilePathAccessRules(std::list<HyxAccess_FilePathAccessRule>&) { NotYet(); }
bool HyxAccessInterfaceImpl::GetSyscallRules(std::uint32_t, std::list<HyxAccess_SyscallRule>&) { NotYet(); }
bool HyxAccessInterfaceImpl::GetCapabilityRules(std::uint32_t, std::list<HyxAccess_CapabilityRule>&) { NotYet(); }
bool HyxAccessInterfaceImpl::GetCapabilityParamRules(std::uint32_t, std::list<HyxAccess_CapabilityParamRule>&) { NotYet(); }
bool HyxAccessInterfaceImpl::GetObjectAccessRules(std::uint32_t, std::list<HyxAccess_ObjectAccessRule>&) { NotYet(); }
bool HyxAccessInterfaceImpl::GetDomTransRules(std::uint32_t, std::list<HyxAccess_DomTransRule>&) { NotYet(); }
bool HyxAccessInterfaceImpl::GetFileCreationRules(std::uint32_t, std::list<HyxAccess_FileCreationRule>&) { NotYet(); }
bool HyxAccessInterfaceImpl::GetUnixSockCreationRules(std::uint32_t, std::list<HyxAccess_UnixSockCreationRule>&) { NotYet(); }
bool HyxAccessInterfaceImpl::GetFilePathAccessRules(std::uint32_t, std::list<HyxAccess_FilePathAccessRule>&) { NotYet(); }
bool HyxAccessInterfaceImpl::CheckCapabilityParamRuleConstraints(const std::string&, std::list<HyxAccess_CapabilityParamRule>&) { NotYet(); }
std::uint32_t HyxAccessInterfaceImpl::LookupLabel(const std::string&, HyxAccessLabelType) { NotYet(); }
std::string HyxAccessInterfaceImpl::GetLabel(std::uint32_t, HyxAccessLabelType) { NotYet(); }
void HyxAccessInterfaceImpl::AddLabels(std::vector<std::string>, HyxAccessLabelType) { NotYet(); }
void HyxAccessInterfaceImpl::RemoveLabels(std::vector<std::string>, HyxAccessLabelType) { NotYet(); }
std::vector<std::string> HyxAccessInterfaceImpl::GetInvalidLabels(HyxAccessLabelType) { NotYet(); }
bool HyxAccessInterfaceImpl::IsPredefinedLabel(const std::string&, HyxAccessLabelType) { NotYet(); }
std::string HyxAccessInterfaceImpl::GetDefaultTardiskDomain() { NotYet(); }
std::string HyxAccessInterfaceImpl::GetDefaultTardiskLabel() { NotYet(); }
std::string HyxAccessInterfaceImpl::GetTardiskExecEventKeyword() { NotYet(); }
const std::vector<std::string>& HyxAccessInterfaceImpl::GetTardiskLaunchDomains() { NotYet(); }
}  // namespace HyxCtl::Security

namespace HostSim {
std::string StatePath() { NotYet(); }
void Init(const std::string&) { NotYet(); }
std::vector<std::string> Journal() { NotYet(); }
std::vector<KlogLine> KernelLog() { NotYet(); }
void AddFault(const Fault&) { NotYet(); }
void ClearFaults() { NotYet(); }
void SetIntegerOption(const std::string&, std::int32_t) { NotYet(); }
void SetStringOption(const std::string&, const std::string&) { NotYet(); }
void UnsetOption(const std::string&) { NotYet(); }
void SetConfigValue(const std::string&, const std::string&, const std::string&) { NotYet(); }
bool GetBootStatus(const std::string&) { NotYet(); }
void AddWorld(int, std::uint32_t) { NotYet(); }
void MapTardisk(const std::string&, const std::string&) { NotYet(); }
void InitFileLabel(const std::string&, bool) { NotYet(); }
void InvalidateLabel(const std::string&, HyxAccessLabelType) { NotYet(); }
Gate ReplaceKernelGate(Gate) { NotYet(); }
HyxCtl::Kernel::CallResult SimulatedKernelCall(std::uint32_t, const std::array<std::uint64_t, 5>&) { NotYet(); }
void SetSyslogRunning(std::optional<bool>) { NotYet(); }
void EnterHostRoot(const std::string&) { NotYet(); }
}  // namespace HostSim
