#include "secpolicy/domains/domain_display.h"

#include <cstdint>
#include <cstdlib>

#include "secpolicy/domains/domain_policy.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

void DisplayPolicyDomains(HyxAccessInterfaceImpl& iface, const std::string& domain) {
  DisplayHeader("Policy set in the kernel", "");
  if (!domain.empty()) {
    // An id, not a name: no leading digits means 0; the low 32 bits count.
    const long id = std::strtol(domain.c_str(), nullptr, 10);
    DisplayDomainPolicy(iface, static_cast<std::uint32_t>(id));
    return;
  }
  const std::uint32_t count = iface.GetMaxDomains();
  bool failed = false;
  for (std::uint32_t id = 0; id < count; ++id) {
    try {
      DisplayDomainPolicy(iface, id);
    } catch (const HostCtl::Lib::HostCtlException&) {
      failed = true;
    }
  }
  if (failed) {
    throw HostCtl::Lib::HostCtlException("Error in displaying the policy for some domains");
  }
}

void DisplayDomainPolicy(HyxAccessInterfaceImpl& iface, unsigned int domainId) {
  std::string name;
  try {
    std::string level;
    std::uint32_t state = 0;
    std::uint32_t refCount = 0;
    std::uint32_t worldRefCount = 0;
    HyxAccessQsi_DefaultDom defaultDom = HYXACCESS_QSI_DEFDOM_NONE;
    // Free id slots are passed over without a word.
    if (!iface.GetCompleteDomainInfo(domainId, name, level, state, refCount, worldRefCount,
                                     defaultDom)) {
      return;
    }
    const std::string title = "Domain Name: " + name + " Domain ID :" + std::to_string(domainId) +
                              " Enforcement Level: " + level;
    const std::string subtitle =
        "State: " + std::to_string(state) + " RefCount: " + std::to_string(refCount) +
        " WorldRefCount: " + std::to_string(worldRefCount) +
        " defaultDom: " + std::to_string(static_cast<int>(defaultDom));
    DisplayHeader(title, subtitle);
    DomainPolicy policy(name, domainId);
    policy.ReadSystemPolicy(iface);
    policy.PrintPolicy();
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    SecpolicyError("Failed to get policy for domain :" + name + failure.what());
  }
}

}  // namespace SecPolicy
