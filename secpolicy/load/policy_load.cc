#include "secpolicy/load/policy_load.h"

#include <functional>

#include "secpolicy/domains/check_access_template.h"
#include "secpolicy/domains/domain_display.h"
#include "secpolicy/domains/domain_loading.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/labels/object_policy.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/messages.h"
#include "secpolicy/tardisks/default_tardisk_policy.h"

namespace SecPolicy {

using HostCtl::Lib::HostCtlException;

namespace {

std::string SubDir(const std::string& dir, const char* name) { return dir + "/" + name; }

// Runs one phase; a failure is reported and noted, never passed on.
void RunPhase(bool& failed, const std::function<void()>& phase) {
  try {
    phase();
  } catch (const HostCtlException& failure) {
    SecpolicyError(failure.what());
    failed = true;
  }
}

}  // namespace

void LoadPolicyEarly(const std::string& dir) {
  HyxAccessInterfaceImpl iface;
  SecpolicyInfo("Using early policy dir " + dir);
  try {
    LoadPolicyObjects(SubDir(DefaultPolicyDir, ObjectsDirName), iface);
    LoadPolicyDomains(SubDir(dir, DomainsDirName), iface);
    LoadPolicyFileLabels(SubDir(DefaultPolicyDir, FileLabelsDirName), iface);
  } catch (const HostCtlException& failure) {
    SecpolicyError(failure.what());
  }
}

void LoadPolicy(const std::string& dir) {
  HyxAccessInterfaceImpl iface;
  SecpolicyInfo("Using policy dir " + dir);
  bool failed = false;
  RunPhase(failed, [&] { LoadPolicyObjects(SubDir(dir, ObjectsDirName), iface); });
  RunPhase(failed, [&] { CreateCheckAccessPolicyDomain(iface); });
  RunPhase(failed, [&] { LoadPolicyDomains(SubDir(dir, DomainsDirName), iface); });
  RunPhase(failed, [&] { LoadPartnerPolicyDomains(iface); });
  LookUpSpecialDomains(iface);
  RunPhase(failed, [&] { LoadPolicyTardisks(SubDir(DefaultPolicyDir, TardisksDirName), iface); });
  RunPhase(failed, [&] { LoadPolicyFileLabels(SubDir(dir, FileLabelsDirName), iface); });
  if (failed) throw HostCtlException("There were some problems encountered in setting the policy");
  SecpolicyInfo("System security policy has been set successfully");
}

void DisplayPolicy(const std::string& domain) {
  HyxAccessInterfaceImpl iface;
  DisplayPolicyDomains(iface, domain);
  DisplayPolicyObjects(iface);
  DisplayPolicyTardiskLabels(iface);
}

}  // namespace SecPolicy
