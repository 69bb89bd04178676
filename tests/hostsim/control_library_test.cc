// The simulated control library: domains, labels, rules and the journal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hostsim/admin.h"
#include "secpolicy/platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

using HostCtl::Lib::HostCtlException;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ControlLibraryTest : public TestSupport::SimulatedHostTest {
 protected:
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
};

TEST_F(ControlLibraryTest, DomainsTakeLowestFreeSlotAboveOneUntilTheTableIsFull) {
  EXPECT_EQ(iface.CreateDomain("a", HYXACCESS_QSI_DEFDOM_NONE), 2u);
  EXPECT_EQ(iface.CreateDomain("b", HYXACCESS_QSI_DEFDOM_APP), 3u);
  iface.RemoveLabels({"a"}, HYXACCESS_LABEL_DOMAIN);
  EXPECT_EQ(iface.CreateDomain("c", HYXACCESS_QSI_DEFDOM_VM), 2u);
  EXPECT_THROW(iface.CreateDomain("b", HYXACCESS_QSI_DEFDOM_NONE), HostCtlException);
  EXPECT_THROW(iface.EnableDomain("b", "paranoid", false), HostCtlException);
  iface.EnableDomain("b", "audit", true);

  std::string name, level;
  std::uint32_t state = 9, refs = 0, worlds = 9;
  HyxAccessQsi_DefaultDom kind{};
  ASSERT_TRUE(iface.GetCompleteDomainInfo(3, name, level, state, refs, worlds, kind));
  EXPECT_EQ(name + " " + level + " " + std::to_string(state) + " " + std::to_string(worlds), "b audit 1 0");
  EXPECT_EQ(kind, HYXACCESS_QSI_DEFDOM_APP);
  EXPECT_FALSE(iface.GetCompleteDomainInfo(0, name, level, state, refs, worlds, kind));
  HyxAccess_SyscallRule stray;
  stray.domainId = 40;
  stray.syscallName = "open";
  EXPECT_THROW(iface.SetSyscallRule(stray), HostCtlException);

  for (std::uint32_t i = 4; i < iface.GetMaxDomains(); ++i) iface.CreateDomain("d" + std::to_string(i), {});
  EXPECT_THROW(iface.CreateDomain("oneTooMany", HYXACCESS_QSI_DEFDOM_NONE), HostCtlException);
}

TEST_F(ControlLibraryTest, ObjectIdsAreNeverOneAndFreshAfterRedefinition) {
  iface.AddLabels({"alpha", "beta"}, HYXACCESS_LABEL_OBJECT);
  const std::uint32_t alpha = iface.LookupLabel("alpha", HYXACCESS_LABEL_OBJECT);
  iface.AddLabels({"alpha"}, HYXACCESS_LABEL_OBJECT);
  EXPECT_EQ(iface.LookupLabel("alpha", HYXACCESS_LABEL_OBJECT), alpha);
  iface.RemoveLabels({"alpha"}, HYXACCESS_LABEL_OBJECT);
  EXPECT_EQ(iface.LookupLabel("alpha", HYXACCESS_LABEL_OBJECT), 1u);
  EXPECT_THROW(iface.GetLabel(alpha, HYXACCESS_LABEL_OBJECT), HostCtlException);
  iface.AddLabels({"alpha"}, HYXACCESS_LABEL_OBJECT);
  EXPECT_NE(iface.LookupLabel("alpha", HYXACCESS_LABEL_OBJECT), alpha);
  for (const auto& [name, id] : iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT)) {
    EXPECT_NE(id, 1) << name;
    EXPECT_EQ(iface.GetLabel(static_cast<std::uint32_t>(id), HYXACCESS_LABEL_OBJECT), name);
  }
}

TEST_F(ControlLibraryTest, PredefinedObjectsSurviveRemovalAndInvalidMarksClear) {
  const std::uint32_t id = iface.LookupLabel("unlabeled", HYXACCESS_LABEL_OBJECT);
  iface.AddLabels({"mine"}, HYXACCESS_LABEL_OBJECT);
  HostSim::InvalidateLabel("unlabeled", HYXACCESS_LABEL_OBJECT);
  HostSim::InvalidateLabel("mine", HYXACCESS_LABEL_OBJECT);
  EXPECT_THAT(iface.GetInvalidLabels(HYXACCESS_LABEL_OBJECT), ElementsAre("mine", "unlabeled"));
  iface.RemoveLabels({"unlabeled", "mine"}, HYXACCESS_LABEL_OBJECT);
  EXPECT_EQ(iface.LookupLabel("unlabeled", HYXACCESS_LABEL_OBJECT), id);
  EXPECT_THROW(iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, "mine"), HostCtlException);
  EXPECT_THAT(iface.GetInvalidLabels(HYXACCESS_LABEL_OBJECT), IsEmpty());
}

TEST_F(ControlLibraryTest, ParamRuleConstraintsFollowTheProfile) {
  auto check = [&](std::string name, std::string first, std::string second) {
    HyxAccess_CapabilityParamRule r;
    r.paramCheck = std::move(name);
    r.firstArg = std::move(first);
    r.secondArg = std::move(second);
    std::list<HyxAccess_CapabilityParamRule> list{r};
    return iface.CheckCapabilityParamRuleConstraints("d", list);
  };
  EXPECT_TRUE(check("mount", "ro", ""));
  EXPECT_TRUE(check("socket", "inet", "raw"));
  EXPECT_THROW(check("mount", "bogus", ""), HostCtlException);
  EXPECT_THROW(check("socket", "inet", "bogus"), HostCtlException);
  EXPECT_THROW(check("bogus", "ro", ""), HostCtlException);
}

}  // namespace
