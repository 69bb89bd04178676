// The simulated kernel's numbered calls: caller memory in and out, refusals
// and faults.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/platform/kernel_gate.h"
#include "secpolicy/platform/kernel_records.h"
#include "tests/support/sim_fixture.h"

namespace {

using HyxCtl::Kernel::AccessControlCall;
using HyxCtl::Kernel::CallResult;

std::uint64_t Addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
std::uint32_t Err(const CallResult& r) { return static_cast<std::uint32_t>(r.error); }
constexpr std::uint32_t Neg(int e) { return static_cast<std::uint32_t>(-e); }

HyxAccess_FileRule Rule(const char* path, std::uint32_t mask) {
  HyxAccess_FileRule rule{};
  std::strncpy(rule.path, path, sizeof rule.path - 1);
  rule.permissions = mask;
  return rule;
}

class KernelCallTest : public TestSupport::SimulatedHostTest {
 protected:
  static std::uint32_t Create(const char* name) {
    std::uint32_t id = 0;
    EXPECT_EQ(AccessControlCall(16473, Addr(name), 2, Addr(&id)).status, 0u) << name;
    return id;
  }
};

TEST_F(KernelCallTest, DomainCallsRoundTripThroughCallerMemory) {
  const std::uint32_t id = Create("vmDom");
  EXPECT_EQ(id, 2u);
  std::uint32_t dup = 77;
  const CallResult r = AccessControlCall(16473, Addr("vmDom"), 0, Addr(&dup));
  EXPECT_EQ(r.status, 0xBAD0001u);
  EXPECT_EQ(Err(r), Neg(EEXIST));
  EXPECT_EQ(dup, 77u);

  char name[64];
  std::memset(name, 'z', sizeof name);
  ASSERT_EQ(AccessControlCall(16486, id, Addr(name), sizeof name).status, 0u);
  EXPECT_STREQ(name, "vmDom");

  HostSim::AddWorld(-1, id);
  std::uint32_t worldDomain = 0;
  ASSERT_EQ(AccessControlCall(16485, static_cast<std::uint64_t>(-1), Addr(&worldDomain)).status, 0u);
  EXPECT_EQ(worldDomain, id);

  // Destroyed while a world runs in it: leaked, and its slot stays taken.
  ASSERT_EQ(AccessControlCall(16474, id, 0).status, 0u);
  std::uint32_t leaked[4] = {};
  std::uint32_t count = 0;
  ASSERT_EQ(AccessControlCall(16484, Addr(leaked), Addr(&count), 4).status, 0u);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(leaked[0], id);
  EXPECT_EQ(Create("next"), 3u);
  EXPECT_EQ(Err(AccessControlCall(16474, id, 0)), Neg(ENOENT));
  EXPECT_EQ(Err(AccessControlCall(16999)), Neg(ENOSYS));
}

TEST_F(KernelCallTest, FilePoliciesRoundTripAndShortArraysAskForRetry) {
  const std::uint32_t id = Create("appDom");
  std::vector<HyxAccess_FileRule> batch{Rule("/bin", 0x11), Rule("/etc/x", 0x3), Rule("/bin", 0x1)};
  std::uint32_t out = 0;
  ASSERT_EQ(AccessControlCall(16479, 0, id, Addr(batch.data()), batch.size(), Addr(&out)).status, 0u);
  EXPECT_EQ(out, 2u);  // the same path again replaces its mask
  ASSERT_EQ(AccessControlCall(16479, 7, id, Addr(batch.data()), 1, Addr(&out)).status, 0u);

  std::vector<HyxAccess_FileRule> back(2, Rule("untouched", 0xFF));
  const CallResult retry = AccessControlCall(16477, id, Addr(back.data()), back.size());
  EXPECT_EQ(retry.status, kHyxAccessStatusRetry);
  EXPECT_STREQ(back[0].path, "untouched");
  back.assign(4, Rule("untouched", 0xFF));
  ASSERT_EQ(AccessControlCall(16477, id, Addr(back.data()), back.size()).status, 0u);
  EXPECT_STREQ(back[0].path, "/bin");
  EXPECT_EQ(back[0].permissions, 0x1u);
  EXPECT_STREQ(back[2].path, "/bin");
  EXPECT_STREQ(back[3].path, "untouched");

  ASSERT_EQ(AccessControlCall(16476, 7, id, Addr("/bin")).status, 0u);
  EXPECT_EQ(Err(AccessControlCall(16476, 7, id, Addr("/bin"))), Neg(ENOENT));
  EXPECT_THAT(HostSim::Journal(),
              ::testing::ElementsAre("CreateDomain 2 appDom 2",
                                     "AddFilePolicyBatch 0 2 3 /bin 0x11 /etc/x 0x3 /bin 0x1",
                                     "AddFilePolicyBatch 7 2 1 /bin 0x11", "RemoveFilePolicy 7 2 /bin"));
}

TEST_F(KernelCallTest, CapabilityAndParamCheckCallsCheckTheirRanges) {
  const std::uint32_t id = Create("d");
  HyxAccess_ModeParam mode{1, 0};
  EXPECT_EQ(AccessControlCall(16481, id, 18, 0xFF).status, 0u);
  EXPECT_EQ(AccessControlCall(16482, id, 9, Addr(&mode), 1).status, 0u);
  EXPECT_EQ(AccessControlCall(16690, id, 9, Addr(&mode)).status, 0u);
  for (const auto& [refused, errnum] : std::vector<std::pair<CallResult, int>>{
           {AccessControlCall(16481, id, 19, 1), EINVAL}, {AccessControlCall(16482, id, 10, Addr(&mode), 1), EINVAL},
           {AccessControlCall(16482, id, 0, 0, 1), EFAULT}, {AccessControlCall(16690, id, 9, Addr(&mode)), ENOENT},
           {AccessControlCall(16481, 40, 1, 1), ENOENT}}) {
    EXPECT_EQ(Err(refused), Neg(errnum));
  }
}

TEST_F(KernelCallTest, FaultsMatchArgumentsCountDownAndKeepToTheirLayer) {
  HostSim::AddFault({"CreateDomain", "unused", EACCES, {}, "victim", 2});
  std::uint32_t id = 0;
  EXPECT_EQ(AccessControlCall(16473, Addr("bystander"), 0, Addr(&id)).status, 0u);
  for (int i = 0; i < 2; ++i) {
    const CallResult r = AccessControlCall(16473, Addr("victim"), 0, Addr(&id));
    EXPECT_EQ(r.status, 0xBAD0001u);
    EXPECT_EQ(Err(r), Neg(EACCES));
  }
  EXPECT_EQ(AccessControlCall(16473, Addr("victim"), 0, Addr(&id)).status, 0u);

  HostSim::AddFault({"RetrieveFilePolicies", "unused", {}, kHyxAccessStatusRetry, {}, {}});
  const CallResult r = AccessControlCall(16477, id, 0, 0);
  EXPECT_EQ(r.status, kHyxAccessStatusRetry);
  EXPECT_EQ(Err(r), Neg(EPERM));

  // A control-library fault leaves the kernel call of the same name alone.
  HostSim::AddFault({"CreateDomain", "injected", {}, {}, {}, {}});
  EXPECT_EQ(AccessControlCall(16473, Addr("other"), 0, Addr(&id)).status, 0u);
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  EXPECT_THROW(iface.CreateDomain("third", HYXACCESS_QSI_DEFDOM_NONE), HostCtl::Lib::HostCtlException);
}

// What a domain's destruction or a dry run's clear removes is gone from every
// store: a domain created in the freed slot, or the cleared one, holds nothing.
TEST_F(KernelCallTest, DestroyAndClearLeaveNoRuleBehind) {
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  for (const bool destroy : {true, false}) {
    const std::uint32_t id = Create(destroy ? "old" : "cleared");
    HyxAccess_SyscallRule syscall;
    syscall.domainId = id;
    syscall.syscallName = "open";
    iface.SetSyscallRule(syscall);
    HyxAccess_FilePathAccessRule path;
    path.domainId = id;
    path.path = "/etc";
    path.permissions = "r";
    std::list<HyxAccess_FilePathAccessRule> paths{path};
    iface.SetFilePathAccessRules(paths);
    HyxAccess_FileRule policy = Rule("/bin", 0x1);
    std::uint32_t added = 0;
    HyxAccess_ModeParam mode{1, 0};
    ASSERT_EQ(AccessControlCall(16479, 7, id, Addr(&policy), 1, Addr(&added)).status, 0u);
    ASSERT_EQ(AccessControlCall(16482, id, 9, Addr(&mode), 1).status, 0u);
    if (destroy) {
      ASSERT_EQ(AccessControlCall(16474, id, 0).status, 0u);
      ASSERT_EQ(Create("new"), id);
    } else {
      HostSim::ClearRules();
    }
    std::list<HyxAccess_SyscallRule> syscalls;
    std::list<HyxAccess_FilePathAccessRule> files;
    iface.GetSyscallRules(id, syscalls);
    iface.GetFilePathAccessRules(id, files);
    EXPECT_TRUE(syscalls.empty()) << destroy;
    EXPECT_TRUE(files.empty()) << destroy;
    std::uint32_t count = 99;
    ASSERT_EQ(AccessControlCall(16478, id, Addr(&count)).status, 0u);
    EXPECT_EQ(count, 0u) << destroy;
    EXPECT_EQ(Err(AccessControlCall(16690, id, 9, Addr(&mode))), Neg(ENOENT)) << destroy;
  }
}

// A rewrite of a held transition is the same rule with the target's new id
// (the target domain was made again in another slot).
TEST_F(KernelCallTest, RewrittenTransitionTakesTheTargetsNewId) {
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  const std::uint32_t from = Create("aDom");
  HyxAccess_DomTransRule rule;
  rule.domainId = from;
  rule.objectName = "unlabeled";
  rule.targetDomainName = "bDom";
  rule.event = "exec";
  rule.grant = true;
  for (const std::uint32_t target : {3u, 9u}) {
    rule.targetDomainId = target;
    iface.SetDomTransRule(rule);
  }
  std::list<HyxAccess_DomTransRule> held;
  iface.GetDomTransRules(from, held);
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held.front().targetDomainId, 9u);
}

}  // namespace
