// The host's kernel access-control control library: keyword catalogues,
// domains, rules of the eight domain rule types, labels and tardisk defaults.
// Every operation fails by throwing HostCtl::Lib::HostCtlException.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "secpolicy/platform/host_ctl_exception.h"

enum HyxAccess_KeywordType : std::uint32_t {
  HYXACCESS_KEYWORD_OBJECT = 1,
  HYXACCESS_KEYWORD_CAPABILITY = 2,
  HYXACCESS_KEYWORD_PARAMCHECK = 3,
  HYXACCESS_KEYWORD_OBJECT_ACCESS = 4,
  HYXACCESS_KEYWORD_EVENT = 5,
  HYXACCESS_KEYWORD_FILE_CREATION = 6,
  HYXACCESS_KEYWORD_UNIX_SOCKET = 7,
  HYXACCESS_KEYWORD_SYSCALL = 8,
};

enum HyxAccessLabelType : std::uint32_t {
  HYXACCESS_LABEL_DOMAIN = 0,
  HYXACCESS_LABEL_OBJECT = 1,
};

// Default-domain kind given to a domain when it is created.
enum HyxAccessQsi_DefaultDom : std::uint32_t {
  HYXACCESS_QSI_DEFDOM_NONE = 0,
  HYXACCESS_QSI_DEFDOM_VM = 1,
  HYXACCESS_QSI_DEFDOM_APP = 2,
  HYXACCESS_QSI_DEFDOM_CHECK_ACCESS = 3,
};

// Every rule record begins with the same three fields.
struct HyxAccess_RuleHeader {
  std::uint32_t lineNumber = 0;
  std::uint32_t domainId = 0;
  std::string domainName;
};

struct HyxAccess_FilePathAccessRule : HyxAccess_RuleHeader {
  std::string path;
  std::string permissions;
};

struct HyxAccess_SyscallRule : HyxAccess_RuleHeader {
  std::string syscallName;
  bool grant = false;
};

struct HyxAccess_CapabilityRule : HyxAccess_RuleHeader {
  std::string capabilityName;
  bool grant = false;
};

struct HyxAccess_CapabilityParamRule : HyxAccess_RuleHeader {
  std::string paramCheck;
  std::string firstArg;
  std::string secondArg;
  bool grant = false;
};

struct HyxAccess_ObjectAccessRule : HyxAccess_RuleHeader {
  std::string objectName;
  std::string accessType;
  bool grant = false;
};

struct HyxAccess_UnixSockCreationRule : HyxAccess_RuleHeader {
  std::string objectName;
  std::string socketKeyword;
  bool grant = false;
};

struct HyxAccess_DomTransRule : HyxAccess_RuleHeader {
  std::string objectName;
  std::string targetDomainName;
  std::uint32_t targetDomainId = 0;
  std::string event;
  bool grant = false;
};

struct HyxAccess_FileCreationRule : HyxAccess_RuleHeader {
  std::string firstObject;
  std::string secondObject;
  std::string creationKeyword;
  bool grant = false;
};

namespace HyxCtl::Security {

// A handle on the kernel's access-control state. Operations are virtual so
// that a test can stand in for any one of them.
class HyxAccessInterfaceImpl {
 public:
  HyxAccessInterfaceImpl();
  virtual ~HyxAccessInterfaceImpl();
  HyxAccessInterfaceImpl(const HyxAccessInterfaceImpl&) = delete;
  HyxAccessInterfaceImpl& operator=(const HyxAccessInterfaceImpl&) = delete;

  // Keywords. Kind 1 holds the objects defined now.
  virtual bool ValidateKeyword(HyxAccess_KeywordType kind, const std::string& word);
  virtual std::map<std::string, std::int64_t> GetKeywordsMap(HyxAccess_KeywordType kind);

  // Domains.
  virtual bool FindDomain(const std::string& name, std::uint32_t* id);
  virtual std::uint32_t CreateDomain(const std::string& name, HyxAccessQsi_DefaultDom defaultDom);
  virtual std::uint32_t GetMaxDomains();
  virtual bool GetCompleteDomainInfo(std::uint32_t id, std::string& name,
                                     std::string& enforcementLevel, std::uint32_t& state,
                                     std::uint32_t& refCount, std::uint32_t& worldRefCount,
                                     HyxAccessQsi_DefaultDom& defaultDom);
  virtual bool EnableDomain(const std::string& name, const std::string& level, bool persist);
  virtual void SetGlobalVMDomain(std::uint32_t id);
  virtual void SetIoFilterDomain(std::uint32_t id);
  virtual void SetDaemonFrameworkDomain(std::uint32_t id);
  virtual void AddHvcService(std::uint32_t domainId, const std::string& service);
  virtual bool IsPrivilegedVm(const std::string& name);

  // Rules: one record per write; reads fill an empty list in write order.
  virtual bool SetSyscallRule(HyxAccess_SyscallRule rule);
  virtual bool SetCapabilityRule(HyxAccess_CapabilityRule rule);
  virtual bool SetCapabilityParamRule(HyxAccess_CapabilityParamRule rule);
  virtual bool SetObjectAccessRule(HyxAccess_ObjectAccessRule rule);
  virtual bool SetDomTransRule(HyxAccess_DomTransRule rule);
  virtual bool SetFileCreationRule(HyxAccess_FileCreationRule rule);
  virtual bool SetUnixSockCreationRule(HyxAccess_UnixSockCreationRule rule);
  virtual bool SetFilePathAccessRules(std::list<HyxAccess_FilePathAccessRule>& rules);

  virtual bool GetSyscallRules(std::uint32_t domainId, std::list<HyxAccess_SyscallRule>& rules);
  virtual bool GetCapabilityRules(std::uint32_t domainId, std::list<HyxAccess_CapabilityRule>& rules);
  virtual bool GetCapabilityParamRules(std::uint32_t domainId,
                                       std::list<HyxAccess_CapabilityParamRule>& rules);
  virtual bool GetObjectAccessRules(std::uint32_t domainId,
                                    std::list<HyxAccess_ObjectAccessRule>& rules);
  virtual bool GetDomTransRules(std::uint32_t domainId, std::list<HyxAccess_DomTransRule>& rules);
  virtual bool GetFileCreationRules(std::uint32_t domainId,
                                    std::list<HyxAccess_FileCreationRule>& rules);
  virtual bool GetUnixSockCreationRules(std::uint32_t domainId,
                                        std::list<HyxAccess_UnixSockCreationRule>& rules);
  virtual bool GetFilePathAccessRules(std::uint32_t domainId,
                                      std::list<HyxAccess_FilePathAccessRule>& rules);

  virtual bool CheckCapabilityParamRuleConstraints(const std::string& domainName,
                                                   std::list<HyxAccess_CapabilityParamRule>& rules);

  // Labels. LookupLabel answers 1 when no label of that name exists.
  virtual std::uint32_t LookupLabel(const std::string& name, HyxAccessLabelType type);
  virtual std::string GetLabel(std::uint32_t id, HyxAccessLabelType type);
  virtual void AddLabels(std::vector<std::string> names, HyxAccessLabelType type);
  virtual void RemoveLabels(std::vector<std::string> names, HyxAccessLabelType type);
  virtual std::vector<std::string> GetInvalidLabels(HyxAccessLabelType type);
  virtual bool IsPredefinedLabel(const std::string& name, HyxAccessLabelType type);

  // Tardisk defaults.
  virtual std::string GetDefaultTardiskDomain();
  virtual std::string GetDefaultTardiskLabel();
  virtual std::string GetTardiskExecEventKeyword();
  virtual const std::vector<std::string>& GetTardiskLaunchDomains();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace HyxCtl::Security
