#include "secpolicy/domains/domain_loading.h"

#include <memory>
#include <vector>

#include "secpolicy/domains/domain_policy.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/host_files.h"
#include "secpolicy/policytext/messages.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy {

namespace {
const char kPluginDir[] = "/etc/norvane/secpolicy/domains/plugins";
const char kPluginPrefix[] = "plugin-";

// Runs `step` on every domain; reports each failure and goes on. Returns
// whether any domain failed.
template <typename Step>
bool EveryDomain(const std::vector<std::unique_ptr<DomainPolicy>>& domains, Step step) {
  bool failed = false;
  for (const auto& domain : domains) {
    try {
      step(*domain);
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      SecpolicyError(failure.what());
      failed = true;
    }
  }
  return failed;
}

void ReportPass(bool failed, const char* failure, const char* success) {
  if (failed) {
    SecpolicyError(failure);
  } else {
    SecpolicyInfo(success);
  }
}
}  // namespace

void LoadPolicyDomains(const std::string& dir, HyxAccessInterfaceImpl& iface) {
  PolicyFileList files;
  GetFileList(dir, files);

  // Every domain of the directory exists in the kernel before any file is
  // parsed, so a transition may name a domain whose file sorts later.
  std::vector<std::unique_ptr<DomainPolicy>> domains;
  const bool plugins = dir == kPluginDir;
  for (const auto& [path, file] : files) {
    const std::string name = plugins ? kPluginPrefix + file : file;
    std::uint32_t id = 0;
    // A domain that cannot be created ends the load before any parsing;
    // domains created so far stay in the kernel.
    if (!iface.FindDomain(name, &id)) id = iface.CreateDomain(name, HYXACCESS_QSI_DEFDOM_NONE);
    auto domain = std::make_unique<DomainPolicy>(name, id);
    domain->policyFilePath = path;
    domains.push_back(std::move(domain));
  }
  SecpolicyInfo("Parsed all domain names");

  // A domain that fails to parse keeps the rules of its earlier lines; they
  // are checked and written like any other domain's.
  const bool parseFailed =
      EveryDomain(domains, [&](DomainPolicy& domain) { domain.ParsePolicy(iface); });
  ReportPass(parseFailed, "Error in parsing the policy for some domains",
             "Domain policies parsed and syntax validated");

  const bool checkFailed = EveryDomain(domains, [&](DomainPolicy& domain) {
    try {
      domain.CheckPolicyConstraints(iface);
    } catch (const HostCtl::Lib::HostCtlException&) {
      domain.hasErrors = true;
      throw;
    }
  });
  ReportPass(checkFailed, "Error in policy constraints check for some domains",
             "Constraints check for domain policies succeeded");

  const bool setFailed =
      EveryDomain(domains, [&](DomainPolicy& domain) { domain.SetPolicy(iface); });
  ReportPass(setFailed, "Error in setting the policy for some domains", "Domain policies set");

  // A constraint failure always surfaces again as a set failure.
  if (parseFailed || setFailed) {
    throw HostCtl::Lib::HostCtlException("Failure in domain policy");
  }
}

void LoadPartnerPolicyDomains(HyxAccessInterfaceImpl& iface) {
  if (File_Exists(kPluginDir) && File_IsDirectory(kPluginDir)) {
    LoadPolicyDomains(kPluginDir, iface);
  }
}

}  // namespace SecPolicy
