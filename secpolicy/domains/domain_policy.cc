#include "secpolicy/domains/domain_policy.h"

#include <iostream>

#include "secpolicy/domains/capability_param_rules.h"
#include "secpolicy/domains/file_path_access_rules.h"
#include "secpolicy/domains/object_socket_rules.h"
#include "secpolicy/domains/syscall_capability_rules.h"
#include "secpolicy/domains/transition_creation_rules.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/error_texts.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

DomainPolicy::DomainPolicy(const std::string& name, unsigned int id)
    : domainId(id), domainName(name) {
  const auto add = [this](const char* keyword, std::unique_ptr<PolicyRules> set) {
    set->keyword = keyword;
    rules[keyword] = set.get();
    ownedRules_.push_back(std::move(set));
  };
  add("-s", std::make_unique<SyscallRules>());
  add("-c", std::make_unique<CapabilityRules>());
  add("-p", std::make_unique<CapabilityParamRules>());
  add("-a", std::make_unique<ObjectAccessRules>());
  add("-d", std::make_unique<DomTransRules>());
  add("-f", std::make_unique<FileCreationRules>());
  add("-u", std::make_unique<UnixSockCreationRules>());
  add("-r", std::make_unique<FilePathAccessRules>());
}

DomainPolicy::~DomainPolicy() = default;

void DomainPolicy::ParsePolicy(HyxAccessInterfaceImpl& iface) {
  if (policyFilePath.empty()) {
    throw HostCtl::Lib::HostCtlException("Policy file path has not been set for domain " +
                                         domainName);
  }
  ParsedPolicyFile lines;
  ParseFile(policyFilePath, lines);
  ProcessParsedPolicyFile(iface, lines);
}

void DomainPolicy::ProcessParsedPolicyFile(HyxAccessInterfaceImpl& iface,
                                           ParsedPolicyFile& lines) {
  for (auto& [line, tokens] : lines) {
    if (tokens.empty()) continue;
    const std::string keyword = tokens.front();
    tokens.pop();
    const auto set = rules.find(keyword);
    if (set == rules.end()) {
      ThrowParsePolicyError(line, domainName, "invalid policy rule type (" + keyword + ")");
    }
    set->second->AddRule(line, domainName, domainId, tokens, iface);
  }
}

void DomainPolicy::CheckPolicyConstraints(HyxAccessInterfaceImpl& iface) {
  for (const auto& [keyword, set] : rules) set->CheckConstraints(domainName, iface);
}

void DomainPolicy::SetPolicy(HyxAccessInterfaceImpl& iface) {
  if (hasErrors) {
    throw HostCtl::Lib::HostCtlException("Skipping the policy for domain " + domainName +
                                         " due to errors in the policy");
  }
  for (const auto& [keyword, set] : rules) set->Set(iface);
}

void DomainPolicy::ReadSystemPolicy(HyxAccessInterfaceImpl& iface) {
  for (const auto& [keyword, set] : rules) {
    try {
      set->ReadSystemRules(domainId, iface);
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      SecpolicyError(failure.what());
    }
  }
}

void DomainPolicy::PrintPolicy() {
  for (const auto& [keyword, set] : rules) set->PrintRules();
  std::cout << std::endl;
}

}  // namespace SecPolicy
