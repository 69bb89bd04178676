// The simulated control library: domains, labels, rules and the journal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hostsim/admin.h"
#include "platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ControlLibraryTest : public TestSupport::SimulatedHostTest {
 protected:
  HyxAccessInterfaceImpl iface;
};

TEST_F(ControlLibraryTest, DomainsTakeLowestFreeSlotAboveOneAndRefuseDuplicates) {
  EXPECT_EQ(iface.CreateDomain("a", HYXACCESS_QSI_DEFDOM_NONE), 2u);
  EXPECT_EQ(iface.CreateDomain("b", HYXACCESS_QSI_DEFDOM_APP), 3u);
  iface.RemoveLabels({"a"}, HYXACCESS_LABEL_DOMAIN);
  EXPECT_EQ(iface.CreateDomain("c", HYXACCESS_QSI_DEFDOM_VM), 2u);
  EXPECT_THROW(iface.CreateDomain("b", HYXACCESS_QSI_DEFDOM_NONE), HostCtlException);

  std::string name, level;
  std::uint32_t state = 9, refs = 0, worlds = 9;
  HyxAccessQsi_DefaultDom kind{};
  ASSERT_TRUE(iface.GetCompleteDomainInfo(3, name, level, state, refs, worlds, kind));
  EXPECT_EQ(name, "b");
  EXPECT_EQ(level, "enforcing");
  EXPECT_EQ(state, 0u);
  EXPECT_EQ(worlds, 0u);
  EXPECT_EQ(kind, HYXACCESS_QSI_DEFDOM_APP);
  EXPECT_FALSE(iface.GetCompleteDomainInfo(0, name, level, state, refs, worlds, kind));

  EXPECT_THROW(iface.EnableDomain("b", "paranoid", false), HostCtlException);
  EXPECT_THROW(iface.EnableDomain("nosuch", "audit", false), HostCtlException);
  iface.EnableDomain("b", "audit", true);
  ASSERT_TRUE(iface.GetCompleteDomainInfo(3, name, level, state, refs, worlds, kind));
  EXPECT_EQ(level, "audit");
  EXPECT_EQ(state, 1u);
}

TEST_F(ControlLibraryTest, FullDomainTableIsRefused) {
  const std::uint32_t max = iface.GetMaxDomains();
  for (std::uint32_t i = 2; i < max; ++i) iface.CreateDomain("d" + std::to_string(i), HYXACCESS_QSI_DEFDOM_NONE);
  EXPECT_THROW(iface.CreateDomain("oneTooMany", HYXACCESS_QSI_DEFDOM_NONE), HostCtlException);
}

TEST_F(ControlLibraryTest, ObjectIdsAreNeverOneAndFreshAfterRedefinition) {
  iface.AddLabels({"alpha", "beta"}, HYXACCESS_LABEL_OBJECT);
  const std::uint32_t alpha = iface.LookupLabel("alpha", HYXACCESS_LABEL_OBJECT);
  EXPECT_GE(alpha, 2u);
  iface.AddLabels({"alpha"}, HYXACCESS_LABEL_OBJECT);
  EXPECT_EQ(iface.LookupLabel("alpha", HYXACCESS_LABEL_OBJECT), alpha);
  iface.RemoveLabels({"alpha"}, HYXACCESS_LABEL_OBJECT);
  EXPECT_EQ(iface.LookupLabel("alpha", HYXACCESS_LABEL_OBJECT), 1u);
  EXPECT_THROW(iface.GetLabel(alpha, HYXACCESS_LABEL_OBJECT), HostCtlException);
  iface.AddLabels({"alpha"}, HYXACCESS_LABEL_OBJECT);
  const std::uint32_t again = iface.LookupLabel("alpha", HYXACCESS_LABEL_OBJECT);
  EXPECT_NE(again, alpha);
  EXPECT_NE(again, 1u);
  EXPECT_EQ(iface.GetLabel(again, HYXACCESS_LABEL_OBJECT), "alpha");
  for (const auto& [name, id] : iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT)) {
    EXPECT_NE(id, 1) << name;
    EXPECT_EQ(iface.LookupLabel(name, HYXACCESS_LABEL_OBJECT), static_cast<std::uint32_t>(id));
  }
}

TEST_F(ControlLibraryTest, PredefinedObjectsSurviveRemovalAndInvalidMarksClear) {
  ASSERT_TRUE(iface.IsPredefinedLabel("unlabeled", HYXACCESS_LABEL_OBJECT));
  const std::uint32_t id = iface.LookupLabel("unlabeled", HYXACCESS_LABEL_OBJECT);
  iface.AddLabels({"mine"}, HYXACCESS_LABEL_OBJECT);
  HostSim::InvalidateLabel("unlabeled", HYXACCESS_LABEL_OBJECT);
  HostSim::InvalidateLabel("mine", HYXACCESS_LABEL_OBJECT);
  EXPECT_THAT(iface.GetInvalidLabels(HYXACCESS_LABEL_OBJECT), ElementsAre("mine", "unlabeled"));
  EXPECT_THAT(iface.GetInvalidLabels(HYXACCESS_LABEL_DOMAIN), IsEmpty());

  iface.RemoveLabels({"unlabeled", "mine"}, HYXACCESS_LABEL_OBJECT);
  EXPECT_EQ(iface.LookupLabel("unlabeled", HYXACCESS_LABEL_OBJECT), id);
  EXPECT_TRUE(iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, "unlabeled"));
  EXPECT_THROW(iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, "mine"), HostCtlException);
  EXPECT_THAT(iface.GetInvalidLabels(HYXACCESS_LABEL_OBJECT), IsEmpty());
  EXPECT_THROW(HostSim::InvalidateLabel("nosuch", HYXACCESS_LABEL_OBJECT), HostCtlException);
}

TEST_F(ControlLibraryTest, DomainLabelsAreTheDomains) {
  iface.AddLabels({"vmDom"}, HYXACCESS_LABEL_DOMAIN);
  std::uint32_t id = 0;
  ASSERT_TRUE(iface.FindDomain("vmDom", &id));
  EXPECT_EQ(iface.LookupLabel("vmDom", HYXACCESS_LABEL_DOMAIN), id);
  EXPECT_EQ(iface.GetLabel(id, HYXACCESS_LABEL_DOMAIN), "vmDom");
  iface.RemoveLabels({"vmDom"}, HYXACCESS_LABEL_DOMAIN);
  EXPECT_FALSE(iface.FindDomain("vmDom", &id));
  EXPECT_EQ(iface.LookupLabel("vmDom", HYXACCESS_LABEL_DOMAIN), 1u);
}

// The refusal texts are checked end to end by the policy corpus.
TEST_F(ControlLibraryTest, KeywordsComeFromTheProfile) {
  for (const auto& [kind, known] : std::vector<std::pair<HyxAccess_KeywordType, std::string>>{
           {HYXACCESS_KEYWORD_CAPABILITY, "chown"}, {HYXACCESS_KEYWORD_PARAMCHECK, "ioctl"},
           {HYXACCESS_KEYWORD_OBJECT_ACCESS, "read"}, {HYXACCESS_KEYWORD_EVENT, "exec"},
           {HYXACCESS_KEYWORD_FILE_CREATION, "file"}, {HYXACCESS_KEYWORD_UNIX_SOCKET, "bind"},
           {HYXACCESS_KEYWORD_SYSCALL, "openat"}, {HYXACCESS_KEYWORD_OBJECT, "tardiskDefault"}}) {
    EXPECT_TRUE(iface.ValidateKeyword(kind, known)) << known;
    EXPECT_THROW(iface.ValidateKeyword(kind, "bogus"), HostCtlException) << known;
  }
  const auto caps = iface.GetKeywordsMap(HYXACCESS_KEYWORD_CAPABILITY);
  EXPECT_EQ(caps.size(), 19u);
  EXPECT_EQ(caps.at("chown"), 0);
  EXPECT_EQ(caps.at("sys_nice"), 18);
  EXPECT_EQ(iface.GetKeywordsMap(HYXACCESS_KEYWORD_PARAMCHECK).size(), 10u);
}

TEST_F(ControlLibraryTest, RulesReadBackPerDomainInWriteOrderAndAreJournaled) {
  const std::uint32_t app = iface.CreateDomain("appDom", HYXACCESS_QSI_DEFDOM_APP);
  const std::uint32_t other = iface.CreateDomain("otherDom", HYXACCESS_QSI_DEFDOM_NONE);
  HyxAccess_SyscallRule open;
  open.domainId = app;
  open.domainName = "appDom";
  open.syscallName = "open";
  open.grant = true;
  HyxAccess_SyscallRule close = open;
  close.syscallName = "close";
  close.grant = false;
  iface.SetSyscallRule(open);
  iface.SetSyscallRule(close);
  HyxAccess_DomTransRule trans;
  trans.domainId = app;
  trans.domainName = "appDom";
  trans.objectName = "tardiskDefault";
  trans.targetDomainName = "otherDom";
  trans.targetDomainId = other;
  trans.event = "exec";
  trans.grant = true;
  iface.SetDomTransRule(trans);
  HyxAccess_CapabilityParamRule param;
  param.domainId = other;
  param.domainName = "otherDom";
  param.paramCheck = "mount";
  param.firstArg = "ro";
  iface.SetCapabilityParamRule(param);

  std::list<HyxAccess_SyscallRule> syscalls;
  iface.GetSyscallRules(app, syscalls);
  ASSERT_EQ(syscalls.size(), 2u);
  EXPECT_EQ(syscalls.front().syscallName, "open");
  EXPECT_TRUE(syscalls.front().grant);
  EXPECT_EQ(syscalls.back().syscallName, "close");
  EXPECT_FALSE(syscalls.back().grant);
  std::list<HyxAccess_SyscallRule> none;
  iface.GetSyscallRules(other, none);
  EXPECT_THAT(none, IsEmpty());
  std::list<HyxAccess_DomTransRule> transitions;
  iface.GetDomTransRules(app, transitions);
  ASSERT_EQ(transitions.size(), 1u);
  EXPECT_EQ(transitions.front().targetDomainId, other);
  EXPECT_EQ(transitions.front().event, "exec");

  HyxAccess_SyscallRule stray = open;
  stray.domainId = 40;
  EXPECT_THROW(iface.SetSyscallRule(stray), HostCtlException);

  EXPECT_THAT(HostSim::Journal(),
              ElementsAre("CreateDomain 2 appDom 2", "CreateDomain 3 otherDom 0",
                          "SetSyscallRule 2 appDom open grant", "SetSyscallRule 2 appDom close revoke",
                          "SetDomTransRule 2 appDom tardiskDefault otherDom 3 exec grant",
                          "SetCapabilityParamRule 3 otherDom mount ro revoke"));
}

TEST_F(ControlLibraryTest, ParamRuleConstraintsFollowTheProfile) {
  auto rule = [](std::string check, std::string first, std::string second) {
    HyxAccess_CapabilityParamRule r;
    r.paramCheck = std::move(check);
    r.firstArg = std::move(first);
    r.secondArg = std::move(second);
    return r;
  };
  std::list<HyxAccess_CapabilityParamRule> good{rule("mount", "ro", ""), rule("socket", "inet", "raw")};
  EXPECT_TRUE(iface.CheckCapabilityParamRuleConstraints("d", good));
  for (const auto& bad : {rule("mount", "bogus", ""), rule("socket", "inet", "bogus"),
                          rule("bogus", "ro", "")}) {
    std::list<HyxAccess_CapabilityParamRule> list{bad};
    EXPECT_THROW(iface.CheckCapabilityParamRuleConstraints("d", list), HostCtlException);
  }
}

TEST_F(ControlLibraryTest, FilePathRulesBecomeWorldZeroFilePolicies) {
  const std::uint32_t id = iface.CreateDomain("tmpl", HYXACCESS_QSI_DEFDOM_CHECK_ACCESS);
  HyxAccess_FilePathAccessRule root;
  root.domainId = id;
  root.path = "/";
  HyxAccess_FilePathAccessRule bin = root;
  bin.path = "/bin";
  bin.permissions = "xr";
  std::list<HyxAccess_FilePathAccessRule> rules{root, bin};
  iface.SetFilePathAccessRules(rules);
  std::list<HyxAccess_FilePathAccessRule> back;
  iface.GetFilePathAccessRules(id, back);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back.front().path, "/");
  EXPECT_EQ(back.front().permissions, "");
  EXPECT_EQ(back.back().permissions, "rx");
  EXPECT_EQ(back.back().domainName, "tmpl");
}

TEST_F(ControlLibraryTest, TardiskDefaultsAreFixed) {
  EXPECT_EQ(iface.GetDefaultTardiskDomain(), "appDom");
  EXPECT_EQ(iface.GetDefaultTardiskLabel(), "tardiskDefault");
  EXPECT_EQ(iface.GetTardiskExecEventKeyword(), "exec");
  EXPECT_THAT(iface.GetTardiskLaunchDomains(), ElementsAre("superDom", "daemonFrameworkDom", "appDom"));
  EXPECT_TRUE(iface.IsPrivilegedVm("hostVm"));
  EXPECT_FALSE(iface.IsPrivilegedVm("appDom"));
}

}  // namespace
