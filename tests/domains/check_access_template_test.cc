// The check-access template domain and the restore of enforcement levels.
#include <gtest/gtest.h>

#include <list>

#include "domains/check_access_template.h"
#include "platform/config_store.h"
#include "platform/host_ctl_exception.h"
#include "tests/domains/domain_fixture.h"

namespace DomainTests {
namespace {

using Texts = std::vector<std::string>;
const char kOption[] = "/UserVars/CheckAccessTemplateEnabled";

// The simulated library, noting the template-related calls.
class NotingIface : public HyxCtl::Security::HyxAccessInterfaceImpl {
 public:
  bool FindDomain(const std::string& name, std::uint32_t* id) override {
    calls.push_back("FindDomain " + name);
    return HyxAccessInterfaceImpl::FindDomain(name, id);
  }
  bool SetFilePathAccessRules(std::list<HyxAccess_FilePathAccessRule>& rules) override {
    written = rules;
    return HyxAccessInterfaceImpl::SetFilePathAccessRules(rules);
  }
  Texts calls;
  std::list<HyxAccess_FilePathAccessRule> written;
};

TEST_F(DomainTest, TemplateDomainIsCreatedWithItsOneRule) {
  HostSim::SetIntegerOption(kOption, 1);
  Mark();
  NotingIface noting;
  SecPolicy::CreateCheckAccessPolicyDomain(noting);
  std::uint32_t id = 0;
  ASSERT_TRUE(iface().FindDomain("checkAccessTemplateDom", &id));
  EXPECT_EQ("CreateDomain " + std::to_string(id) + " checkAccessTemplateDom 3", NewJournal().at(0));
  ASSERT_EQ(1u, noting.written.size());
  const auto& rule = noting.written.front();
  EXPECT_EQ(0u, rule.lineNumber);
  EXPECT_EQ(id, rule.domainId);
  EXPECT_EQ("", rule.domainName);
  EXPECT_EQ("/", rule.path);
  EXPECT_EQ("", rule.permissions);
}

TEST_F(DomainTest, ExistingTemplateDomainIsLeftAlone) {
  HostSim::SetIntegerOption(kOption, 7);
  iface().CreateDomain("checkAccessTemplateDom", HYXACCESS_QSI_DEFDOM_CHECK_ACCESS);
  Mark();
  NotingIface noting;
  SecPolicy::CreateCheckAccessPolicyDomain(noting);
  EXPECT_EQ(Texts{"FindDomain checkAccessTemplateDom"}, noting.calls);
  EXPECT_TRUE(NewJournal().empty());
}

TEST_F(DomainTest, TemplateDomainNeedsANonZeroIntegerOption) {
  NotingIface noting;
  SecPolicy::CreateCheckAccessPolicyDomain(noting);  // no option at all
  HostSim::SetIntegerOption(kOption, 0);
  SecPolicy::CreateCheckAccessPolicyDomain(noting);
  HostSim::SetStringOption(kOption, "1");
  SecPolicy::CreateCheckAccessPolicyDomain(noting);
  EXPECT_TRUE(noting.calls.empty());
}

class RestoreTest : public DomainTest {
 protected:
  void SetUp() override {
    DomainTest::SetUp();
    for (const char* name : {"d1", "d2", "d3"}) {
      ids_.push_back(std::to_string(iface().CreateDomain(name, HYXACCESS_QSI_DEFDOM_NONE)));
    }
    Mark();
  }
  Texts ids_;
};

TEST_F(RestoreTest, LevelsAreLoweredAndBootStatusSetPerDomain) {
  HostSim::SetConfigValue("d1", "enforcement_level", "ENForcing");
  HostSim::SetConfigValue("d3", "enforcement_level", "audit");
  Mark();
  SecPolicy::RestoreDomainEnforcement(iface());
  EXPECT_EQ((Texts{"EnableDomain " + ids_[0] + " d1 enforcing 0",
                   "SetBootStatus domain_settings security pal d1 true",
                   "EnableDomain " + ids_[2] + " d3 audit 0",
                   "SetBootStatus domain_settings security pal d3 true"}),
            NewJournal());
  EXPECT_FALSE(HostSim::GetBootStatus("d2"));
  // The store keeps what it held.
  std::string level;
  PalConfigStore::GetDesiredUserConfig({"domain_settings", "security", "pal", "d1"},
                                       PalConfigStore::FLAG_NONE)
      ->GetValue("enforcement_level", &level);
  EXPECT_EQ("ENForcing", level);
}

TEST_F(RestoreTest, RefusedDomainIsReportedAndTheNextRestored) {
  for (const char* name : {"d1", "d2", "d3"}) {
    HostSim::SetConfigValue(name, "enforcement_level", "enforcing");
  }
  AddFault("EnableDomain", "refused", "d2");
  const auto output =
      TestSupport::Capture([&] { SecPolicy::RestoreDomainEnforcement(iface()); });
  EXPECT_EQ("Error: refused\n", output.err);
  EXPECT_TRUE(HostSim::GetBootStatus("d1"));
  EXPECT_FALSE(HostSim::GetBootStatus("d2"));
  EXPECT_TRUE(HostSim::GetBootStatus("d3"));
}

TEST_F(RestoreTest, EntryPointAnnouncesAndReportsAFailedWalk) {
  AddFault("GetMaxDomains", "gone");
  const auto output = TestSupport::Capture([] { SecPolicy::RestoreDomainEnforcement(); });
  EXPECT_EQ("Error: gone\n", output.err);
  EXPECT_EQ((Texts{"Restoring domain enforcement", "gone"}), TestSupport::KernelLogTexts());
}

}  // namespace
}  // namespace DomainTests
