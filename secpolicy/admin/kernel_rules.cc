#include "secpolicy/admin/kernel_rules.h"

#include <list>

#include "secpolicy/kernelcalls/file_policy_calls.h"
#include "secpolicy/policytext/retry_exception.h"

namespace SecPolicy::Admin {

namespace {

const char* Action(bool grant) { return grant ? "grant" : "revoke"; }

KernelRule Rule(const char* keyword, std::vector<std::string> words,
                std::vector<RuleField> fields) {
  return KernelRule{keyword, std::move(words), std::move(fields)};
}

KernelRule Describe(const HyxAccess_ObjectAccessRule& r) {
  return Rule("-a", {r.objectName, r.accessType, Action(r.grant)},
              {{"objectName", r.objectName}, {"accessType", r.accessType}, {"grant", r.grant}});
}
KernelRule Describe(const HyxAccess_CapabilityRule& r) {
  return Rule("-c", {r.capabilityName, Action(r.grant)},
              {{"capabilityName", r.capabilityName}, {"grant", r.grant}});
}
KernelRule Describe(const HyxAccess_DomTransRule& r) {
  return Rule("-d", {r.objectName, r.targetDomainName, r.event, Action(r.grant)},
              {{"objectName", r.objectName},
               {"targetDomainName", r.targetDomainName},
               {"targetDomainId", r.targetDomainId},
               {"event", r.event},
               {"grant", r.grant}});
}
KernelRule Describe(const HyxAccess_FileCreationRule& r) {
  return Rule("-f", {r.firstObject, r.secondObject, r.creationKeyword, Action(r.grant)},
              {{"firstObject", r.firstObject},
               {"secondObject", r.secondObject},
               {"creationKeyword", r.creationKeyword},
               {"grant", r.grant}});
}
KernelRule Describe(const HyxAccess_CapabilityParamRule& r) {
  std::vector<std::string> words{r.paramCheck, r.firstArg};
  // The display leaves an empty second argument out.
  if (!r.secondArg.empty()) words.push_back(r.secondArg);
  words.emplace_back(Action(r.grant));
  return Rule("-p", std::move(words),
              {{"paramCheck", r.paramCheck},
               {"firstArg", r.firstArg},
               {"secondArg", r.secondArg},
               {"grant", r.grant}});
}
KernelRule Describe(const HyxAccess_FilePathAccessRule& r) {
  return Rule("-r", {r.path, r.permissions}, {{"path", r.path}, {"permissions", r.permissions}});
}
KernelRule Describe(const HyxAccess_SyscallRule& r) {
  return Rule("-s", {r.syscallName, Action(r.grant)},
              {{"syscallName", r.syscallName}, {"grant", r.grant}});
}
KernelRule Describe(const HyxAccess_UnixSockCreationRule& r) {
  return Rule("-u", {r.objectName, r.socketKeyword, Action(r.grant)},
              {{"objectName", r.objectName}, {"socketKeyword", r.socketKeyword}, {"grant", r.grant}});
}

template <typename Record>
void Append(HyxAccessInterfaceImpl& iface, std::uint32_t domainId,
            bool (HyxAccessInterfaceImpl::*read)(std::uint32_t, std::list<Record>&),
            const ReadError& onError, std::vector<KernelRule>& out) {
  std::list<Record> records;
  try {
    (iface.*read)(domainId, records);
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    if (!onError) throw;
    onError(failure.what());
    return;
  }
  for (const Record& record : records) out.push_back(Describe(record));
}

std::string Join(const std::string& first, const std::vector<std::string>& words,
                 std::size_t count) {
  std::string text = first;
  for (std::size_t i = 0; i < count; ++i) text += ' ' + words[i];
  return text;
}

}  // namespace

std::string KernelRule::Text() const { return Join(keyword, words, words.size()); }

std::string KernelRule::Subject() const {
  return Join(keyword, words, words.empty() ? 0 : words.size() - 1);
}

std::optional<KernelDomain> ReadDomain(HyxAccessInterfaceImpl& iface, std::uint32_t id) {
  KernelDomain domain;
  domain.id = id;
  HyxAccessQsi_DefaultDom defaultDom{};
  if (!iface.GetCompleteDomainInfo(id, domain.name, domain.enforcement, domain.state,
                                   domain.refCount, domain.worldRefCount, defaultDom)) {
    return std::nullopt;
  }
  domain.defaultDom = static_cast<std::int32_t>(defaultDom);
  return domain;
}

std::vector<KernelDomain> ReadDomains(HyxAccessInterfaceImpl& iface) {
  std::vector<KernelDomain> domains;
  const std::uint32_t slots = iface.GetMaxDomains();
  for (std::uint32_t id = 0; id < slots; ++id) {
    if (auto domain = ReadDomain(iface, id)) domains.push_back(std::move(*domain));
  }
  return domains;
}

std::vector<KernelRule> ReadRules(HyxAccessInterfaceImpl& iface, std::uint32_t domainId,
                                  const ReadError& onError) {
  std::vector<KernelRule> rules;
  using I = HyxAccessInterfaceImpl;
  Append(iface, domainId, &I::GetObjectAccessRules, onError, rules);
  Append(iface, domainId, &I::GetCapabilityRules, onError, rules);
  Append(iface, domainId, &I::GetDomTransRules, onError, rules);
  Append(iface, domainId, &I::GetFileCreationRules, onError, rules);
  Append(iface, domainId, &I::GetCapabilityParamRules, onError, rules);
  Append(iface, domainId, &I::GetFilePathAccessRules, onError, rules);
  Append(iface, domainId, &I::GetSyscallRules, onError, rules);
  Append(iface, domainId, &I::GetUnixSockCreationRules, onError, rules);
  return rules;
}

std::vector<HyxAccess_FileRule> ReadFilePolicies(std::uint32_t domainId, int retries,
                                                 std::optional<std::uint32_t> size) {
  for (int retry = 0;; ++retry) {
    std::vector<HyxAccess_FileRule> rules(size ? *size : RetrieveNumberOfFilePolicies(domainId));
    try {
      RetrieveFilePolicies(domainId, rules.data(), static_cast<unsigned int>(rules.size()));
      // No policy has an empty path.
      std::erase_if(rules, [](const HyxAccess_FileRule& rule) { return rule.path[0] == '\0'; });
      return rules;
    } catch (const SecPolicyRetryException&) {
      if (retry == retries) throw;
    }
  }
}

}  // namespace SecPolicy::Admin
