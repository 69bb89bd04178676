#include "secpolicy/domains/check_access_template.h"

#include <cctype>
#include <list>
#include <memory>
#include <string>

#include "secpolicy/platform/advanced_options.h"
#include "secpolicy/platform/config_store.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicy {

namespace {
const char kTemplateOption[] = "/UserVars/CheckAccessTemplateEnabled";
const char kTemplateDomain[] = "checkAccessTemplateDom";
const char kEnforcementKey[] = "enforcement_level";
}  // namespace

void CreateCheckAccessPolicyDomain(HyxAccessInterfaceImpl& iface) {
  HyxCtl::Adv::AdvancedOptionImpl options;
  // Owned from here, so the option is deleted on every way out.
  const std::unique_ptr<HostCtl::Adv::AdvancedOption> option(options.FindOption(kTemplateOption));
  const auto* enabled = dynamic_cast<const HostCtl::Adv::AdvancedIntegerOption*>(option.get());
  if (enabled == nullptr || enabled->GetCurrentValue() == 0) return;

  std::uint32_t id = 0;
  // An existing template domain keeps its rules; they are not written again.
  if (iface.FindDomain(kTemplateDomain, &id)) return;
  iface.CreateDomain(kTemplateDomain, HYXACCESS_QSI_DEFDOM_CHECK_ACCESS);
  if (!iface.FindDomain(kTemplateDomain, &id)) return;

  // The domain's one rule: "/" with no access, belonging to no policy line.
  HyxAccess_FilePathAccessRule rule;
  rule.lineNumber = 0;
  rule.domainId = id;
  rule.path = "/";
  std::list<HyxAccess_FilePathAccessRule> rules{rule};
  iface.SetFilePathAccessRules(rules);
}

void RestoreDomainEnforcement(HyxAccessInterfaceImpl& iface) {
  const std::uint32_t count = iface.GetMaxDomains();
  for (std::uint32_t id = 0; id < count; ++id) {
    std::string name;
    std::string kernelLevel;  // only the name is used: the store's level is applied
    std::uint32_t state = 0;
    std::uint32_t refCount = 0;
    std::uint32_t worldRefCount = 0;
    HyxAccessQsi_DefaultDom defaultDom = HYXACCESS_QSI_DEFDOM_NONE;
    if (!iface.GetCompleteDomainInfo(id, name, kernelLevel, state, refCount, worldRefCount,
                                     defaultDom)) {
      continue;
    }
    const PalConfigStore::ConfigStoreObjectId objectId("domain_settings", "security", "pal",
                                                       name);
    const auto settings =
        PalConfigStore::GetDesiredUserConfig(objectId, PalConfigStore::FLAG_NONE);
    if (!settings) continue;
    try {
      // A missing value applies the empty level, as the store left it.
      std::string level;
      settings->GetValue(kEnforcementKey, &level);
      for (char& letter : level) {
        letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
      }
      iface.EnableDomain(name, level, false);
      PalConfigStore::SetBootStatus(objectId, true);
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      SecpolicyError(failure.what());
    }
  }
}

void RestoreDomainEnforcement() {
  HyxAccessInterfaceImpl iface;
  try {
    SecpolicyInfo("Restoring domain enforcement");
    RestoreDomainEnforcement(iface);
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    SecpolicyError(failure.what());
  }
}

}  // namespace SecPolicy
