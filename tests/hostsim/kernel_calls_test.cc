// The simulated kernel's numbered calls: caller memory in and out, refusals,
// faults and the replaceable gate.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "hostsim/admin.h"
#include "platform/hyx_access.h"
#include "platform/kernel_gate.h"
#include "platform/kernel_records.h"
#include "tests/support/sim_fixture.h"

namespace {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Kernel::AccessControlCall;
using HyxCtl::Kernel::CallResult;
using ::testing::ElementsAre;

std::uint64_t Addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
std::uint32_t Err(const CallResult& r) { return static_cast<std::uint32_t>(r.error); }
std::uint32_t Status(const CallResult& r) { return static_cast<std::uint32_t>(r.status); }
constexpr std::uint32_t Neg(int e) { return static_cast<std::uint32_t>(-e); }

HyxAccess_FileRule Rule(const char* path, std::uint32_t mask) {
  HyxAccess_FileRule rule{};
  std::strncpy(rule.path, path, sizeof rule.path - 1);
  rule.permissions = mask;
  return rule;
}

class KernelCallTest : public TestSupport::SimulatedHostTest {
 protected:
  std::uint32_t Create(const char* name) {
    std::uint32_t id = 0;
    const CallResult r = AccessControlCall(16473, Addr(name), 2, Addr(&id));
    EXPECT_EQ(r.status, 0u) << name;
    return id;
  }
};

TEST_F(KernelCallTest, DomainCallsRoundTripThroughCallerMemory) {
  const std::uint32_t id = Create("vmDom");
  EXPECT_EQ(id, 2u);
  std::uint32_t dup = 77;
  CallResult r = AccessControlCall(16473, Addr("vmDom"), 0, Addr(&dup));
  EXPECT_EQ(Status(r), 0xBAD0001u);
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
  EXPECT_EQ(Err(AccessControlCall(16485, 5, Addr(&worldDomain))), Neg(ESRCH));

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

  std::uint32_t number = 0;
  ASSERT_EQ(AccessControlCall(16478, id, Addr(&number)).status, 0u);
  ASSERT_EQ(number, 3u);

  std::vector<HyxAccess_FileRule> back(2, Rule("untouched", 0xFF));
  const CallResult retry = AccessControlCall(16477, id, Addr(back.data()), back.size());
  EXPECT_EQ(Status(retry), kHyxAccessStatusRetry);
  EXPECT_NE(Err(retry), 0u);
  EXPECT_STREQ(back[0].path, "untouched");

  back.assign(4, Rule("untouched", 0xFF));
  ASSERT_EQ(AccessControlCall(16477, id, Addr(back.data()), back.size()).status, 0u);
  EXPECT_STREQ(back[0].path, "/bin");
  EXPECT_EQ(back[0].permissions, 0x1u);
  EXPECT_STREQ(back[1].path, "/etc/x");
  EXPECT_EQ(back[1].permissions, 0x3u);
  EXPECT_STREQ(back[2].path, "/bin");
  EXPECT_STREQ(back[3].path, "untouched");

  ASSERT_EQ(AccessControlCall(16475, id, Addr("/etc/x"), 0x10).status, 0u);
  ASSERT_EQ(AccessControlCall(16476, 7, id, Addr("/bin")).status, 0u);
  EXPECT_EQ(Err(AccessControlCall(16476, 7, id, Addr("/bin"))), Neg(ENOENT));
  ASSERT_EQ(AccessControlCall(16487, Addr("/etc/x"), Addr("/etc/y")).status, 0u);

  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  std::list<HyxAccess_FilePathAccessRule> rules;
  iface.GetFilePathAccessRules(id, rules);
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules.front().path, "/bin");
  EXPECT_EQ(rules.front().permissions, "r");
  EXPECT_EQ(rules.back().path, "/etc/y");
  EXPECT_EQ(rules.back().permissions, "x");

  EXPECT_THAT(HostSim::Journal(),
              ElementsAre("CreateDomain 2 appDom 2",
                          "AddFilePolicyBatch 0 2 3 /bin 0x11 /etc/x 0x3 /bin 0x1",
                          "AddFilePolicyBatch 7 2 1 /bin 0x11", "UpdateFilePolicy 2 /etc/x 0x10",
                          "RemoveFilePolicy 7 2 /bin", "ReplaceFilePolicyVMs /etc/x /etc/y"));
}

TEST_F(KernelCallTest, CapabilityAndParamCheckCallsCheckTheirRanges) {
  const std::uint32_t id = Create("d");
  EXPECT_EQ(AccessControlCall(16481, id, 18, 0xFF).status, 0u);
  EXPECT_EQ(Err(AccessControlCall(16481, id, 19, 1)), Neg(EINVAL));
  HyxAccess_ModeParam mode{1, 0};
  EXPECT_EQ(AccessControlCall(16482, id, 9, Addr(&mode), 1).status, 0u);
  EXPECT_EQ(Err(AccessControlCall(16482, id, 10, Addr(&mode), 1)), Neg(EINVAL));
  EXPECT_EQ(Err(AccessControlCall(16482, id, 0, 0, 1)), Neg(EFAULT));
  EXPECT_EQ(AccessControlCall(16690, id, 9, Addr(&mode)).status, 0u);
  EXPECT_EQ(Err(AccessControlCall(16690, id, 9, Addr(&mode))), Neg(ENOENT));
  EXPECT_EQ(Err(AccessControlCall(16481, 40, 1, 1)), Neg(ENOENT));
}

TEST_F(KernelCallTest, KernelFaultsMatchArgumentsAndCountDown) {
  HostSim::Fault fault;
  fault.operation = "CreateDomain";
  fault.errnum = EACCES;
  fault.match = "victim";
  fault.times = 2;
  HostSim::AddFault(fault);
  std::uint32_t id = 0;
  EXPECT_EQ(AccessControlCall(16473, Addr("bystander"), 0, Addr(&id)).status, 0u);
  for (int i = 0; i < 2; ++i) {
    const CallResult r = AccessControlCall(16473, Addr("victim"), 0, Addr(&id));
    EXPECT_EQ(Status(r), 0xBAD0001u);
    EXPECT_EQ(Err(r), Neg(EACCES));
  }
  EXPECT_EQ(AccessControlCall(16473, Addr("victim"), 0, Addr(&id)).status, 0u);

  fault = HostSim::Fault{};
  fault.operation = "RetrieveFilePolicies";
  fault.status = kHyxAccessStatusRetry;
  HostSim::AddFault(fault);
  const CallResult r = AccessControlCall(16477, id, 0, 0);
  EXPECT_EQ(Status(r), kHyxAccessStatusRetry);
  EXPECT_EQ(Err(r), Neg(EPERM));
}

TEST_F(KernelCallTest, ControlLibraryFaultsThrowTheirMessage) {
  HostSim::Fault fault;
  fault.operation = "SetSyscallRule";
  fault.message = "injected";
  fault.match = "open";
  fault.times = 1;
  HostSim::AddFault(fault);
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  HyxAccess_SyscallRule rule;
  rule.domainId = iface.CreateDomain("d", HYXACCESS_QSI_DEFDOM_NONE);
  rule.syscallName = "close";
  EXPECT_TRUE(iface.SetSyscallRule(rule));
  rule.syscallName = "open";
  try {
    iface.SetSyscallRule(rule);
    ADD_FAILURE() << "no fault";
  } catch (const HostCtlException& e) {
    EXPECT_STREQ(e.what(), "injected");
  }
  EXPECT_TRUE(iface.SetSyscallRule(rule));
  // A control-library fault leaves the kernel call of the same name alone.
  fault.operation = "CreateDomain";
  fault.match.reset();
  fault.times.reset();
  HostSim::AddFault(fault);
  std::uint32_t id = 0;
  EXPECT_EQ(AccessControlCall(16473, Addr("other"), 0, Addr(&id)).status, 0u);
  EXPECT_THROW(iface.CreateDomain("third", HYXACCESS_QSI_DEFDOM_NONE), HostCtlException);
}

TEST_F(KernelCallTest, PathResolutionFillsTheCallersBuffer) {
  const std::string dir = scratch_.MakeDir("a/b");
  const std::string twisted = scratch_.str() + "/a/./b/../b";
  char out[kFileRulePathSize];
  ASSERT_EQ(HyxCtl::Kernel::HostPrctl(HyxCtl::Kernel::kResolvePathOption, Addr(twisted.c_str()),
                                      Addr(out)),
            0);
  char expected[PATH_MAX];
  ASSERT_NE(realpath(dir.c_str(), expected), nullptr);
  EXPECT_STREQ(out, expected);
  EXPECT_EQ(HyxCtl::Kernel::HostPrctl(HyxCtl::Kernel::kResolvePathOption,
                                      Addr("/no/such/path"), Addr(out)),
            -1);
}

}  // namespace
