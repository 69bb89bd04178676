// The check-access template domain.
#include <gtest/gtest.h>

#include <list>

#include "secpolicy/domains/check_access_template.h"
#include "tests/secpolicy/domains/domain_fixture.h"

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
  NotingIface first;
  SecPolicy::CreateCheckAccessPolicyDomain(first);
  std::uint32_t id = 0;
  ASSERT_TRUE(iface().FindDomain("checkAccessTemplateDom", &id));
  ASSERT_EQ(1u, first.written.size());
  const auto& rule = first.written.front();
  EXPECT_EQ(std::make_tuple(0u, id, std::string(), std::string("/"), std::string()),
            std::tie(rule.lineNumber, rule.domainId, rule.domainName, rule.path, rule.permissions));
  const auto written = NewJournal();
  NotingIface again;
  SecPolicy::CreateCheckAccessPolicyDomain(again);
  EXPECT_EQ(Texts{"checkAccessTemplateDom"}, again.lookups);
  EXPECT_EQ(written, NewJournal());
  EXPECT_EQ("CreateDomain " + std::to_string(id) + " checkAccessTemplateDom 3", written.at(1));  // after the option
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

}  // namespace
}  // namespace DomainTests
