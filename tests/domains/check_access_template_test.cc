// The check-access template domain and the restore of enforcement levels.
#include <gtest/gtest.h>

#include <list>

#include "domains/check_access_template.h"
#include "tests/domains/domain_fixture.h"

namespace DomainTests {
namespace {

const char kOption[] = "/UserVars/CheckAccessTemplateEnabled";

// The simulated library, noting the lookups and the template rule.
class NotingIface : public HyxCtl::Security::HyxAccessInterfaceImpl {
 public:
  bool FindDomain(const std::string& name, std::uint32_t* id) override {
    lookups.push_back(name);
    return HyxAccessInterfaceImpl::FindDomain(name, id);
  }
  bool SetFilePathAccessRules(std::list<HyxAccess_FilePathAccessRule>& rules) override {
    written = rules;
    return HyxAccessInterfaceImpl::SetFilePathAccessRules(rules);
  }
  Texts lookups;
  std::list<HyxAccess_FilePathAccessRule> written;
};

TEST_F(DomainTest, TemplateDomainIsCreatedOnceWithItsOneRule) {
  HostSim::SetIntegerOption(kOption, 1);
  Mark();
  NotingIface first;
  SecPolicy::CreateCheckAccessPolicyDomain(first);
  std::uint32_t id = 0;
  ASSERT_TRUE(iface().FindDomain("checkAccessTemplateDom", &id));
  EXPECT_EQ("CreateDomain " + std::to_string(id) + " checkAccessTemplateDom 3", NewJournal().at(0));
  ASSERT_EQ(1u, first.written.size());
  const auto& rule = first.written.front();
  EXPECT_EQ(std::make_tuple(0u, id, std::string(), std::string("/"), std::string()),
            std::tie(rule.lineNumber, rule.domainId, rule.domainName, rule.path, rule.permissions));

  Mark();
  NotingIface again;
  SecPolicy::CreateCheckAccessPolicyDomain(again);
  EXPECT_EQ(Texts{"checkAccessTemplateDom"}, again.lookups);
  EXPECT_TRUE(NewJournal().empty());
}

TEST_F(DomainTest, TemplateDomainNeedsANonZeroIntegerOption) {
  NotingIface noting;
  SecPolicy::CreateCheckAccessPolicyDomain(noting);  // no option at all
  HostSim::SetIntegerOption(kOption, 0);
  SecPolicy::CreateCheckAccessPolicyDomain(noting);
  HostSim::SetStringOption(kOption, "1");
  SecPolicy::CreateCheckAccessPolicyDomain(noting);
  EXPECT_TRUE(noting.lookups.empty());
}

class RestoreTest : public DomainTest {
 protected:
  void SetUp() override {
    DomainTest::SetUp();
    for (const char* name : {"d1", "d2", "d3"}) {
      ids_.push_back(std::to_string(iface().CreateDomain(name, HYXACCESS_QSI_DEFDOM_NONE)));
    }
  }
  Texts ids_;
};

// appDom, first in id order, has nothing stored.
TEST_F(RestoreTest, LevelsAreLoweredAndFailuresAndMissingSettingsPassedOver) {
  HostSim::SetConfigValue("d1", "enforcement_level", "ENForcing");
  HostSim::SetConfigValue("d2", "enforcement_level", "audit");
  HostSim::SetConfigValue("d3", "enforcement_level", "audit");
  AddFault("EnableDomain", "refused", "d2");
  Mark();
  const auto output = TestSupport::Capture([&] { SecPolicy::RestoreDomainEnforcement(iface()); });
  EXPECT_EQ("Error: refused\n", output.err);
  EXPECT_EQ((Texts{"EnableDomain " + ids_[0] + " d1 enforcing 0",
                   "SetBootStatus domain_settings security pal d1 true",
                   "EnableDomain " + ids_[2] + " d3 audit 0",
                   "SetBootStatus domain_settings security pal d3 true"}),
            NewJournal());
}

TEST_F(RestoreTest, EntryPointAnnouncesAndReportsAFailedWalk) {
  AddFault("GetMaxDomains", "gone");
  const auto output = TestSupport::Capture([] { SecPolicy::RestoreDomainEnforcement(); });
  EXPECT_EQ("Error: gone\n", output.err);
  EXPECT_EQ((Texts{"Restoring domain enforcement", "gone"}), TestSupport::KernelLogTexts());
}

}  // namespace
}  // namespace DomainTests
