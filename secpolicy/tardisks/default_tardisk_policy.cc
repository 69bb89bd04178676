#include "secpolicy/tardisks/default_tardisk_policy.h"

#include <iostream>
#include <vector>

#include "secpolicy/labels/file_labels.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/messages.h"
#include "secpolicy/tardisks/tardisk_discovery.h"
#include "secpolicy/tardisks/tardisk_exception_rules.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;

void SetDefaultTardiskPolicy(std::list<std::string>& tardisks, HyxAccessInterfaceImpl& iface) {
  const std::string label = iface.GetDefaultTardiskLabel();
  const std::string domainName = iface.GetDefaultTardiskDomain();
  const std::vector<std::string> launchDomains = iface.GetTardiskLaunchDomains();
  const std::string event = iface.GetTardiskExecEventKeyword();

  bool failed = false;
  for (const auto& launchDomain : launchDomains) {
    HyxAccess_DomTransRule rule;
    rule.lineNumber = 0;
    rule.domainName = launchDomain;
    rule.objectName = label;
    rule.targetDomainName = domainName;
    rule.targetDomainId = SecPolicy::GetDefaultTardiskDomain();
    rule.event = event;
    rule.grant = true;
    std::uint32_t id = 0;
    if (!iface.FindDomain(launchDomain, &id)) {
      throw HostCtlException("Failed to fetch domain id for " + launchDomain);
    }
    rule.domainId = id;
    if (id == rule.targetDomainId) continue;
    try {
      iface.SetDomTransRule(rule);
    } catch (const HostCtlException& failure) {
      SecpolicyError("Failed to set default tardisk rule: ");
      SecpolicyError(failure.what());
      failed = true;
    }
  }

  for (const auto& tardisk : tardisks) {
    try {
      SetFileLabel(tardisk, label, iface);
    } catch (const HostCtlException& failure) {
      SecpolicyError("Failed to set default tardisk label: ");
      SecpolicyError(failure.what());
      failed = true;
    }
  }
  if (failed) throw HostCtlException("Failure in setting default tardisk policy");
}

void LoadPolicyTardisks(const std::string& dir, HyxAccessInterfaceImpl& iface) {
  TardiskPolicyList owned;
  std::list<std::string> defaultTardisks;
  GetTardiskLists(dir, owned.policies, defaultTardisks);

  bool failed = false;
  try {
    ParseAndSetTardiskPolicy(owned.policies, iface);
  } catch (const HostCtlException& failure) {
    SecpolicyError(failure.what());
    failed = true;
  }
  owned.Clear();

  try {
    SetDefaultTardiskPolicy(defaultTardisks, iface);
  } catch (const HostCtlException& failure) {
    SecpolicyError(failure.what());
    failed = true;
  }
  if (failed) throw HostCtlException("Failure in setting tardisk policy");
}

void DisplayPolicyTardiskLabels(HyxAccessInterfaceImpl& iface) {
  DisplayHeader("Tardisk Path (label)", "");
  std::list<std::string> tardisks;
  GetAllTardisks(tardisks);
  for (const auto& tardisk : tardisks) {
    std::cout << tardisk << " (";
    try {
      const std::string label = GetFileLabel(tardisk, iface);
      std::cout << label << ")" << std::endl;
    } catch (const HostCtlException& failure) {
      std::cout.flush();
      SecpolicyError("Error in reading tardisk label: (" + tardisk + "): " + failure.what());
    }
  }
}

}  // namespace SecPolicy
