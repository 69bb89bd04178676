// Answers the simulated kernel keeps in memory between commits must follow
// every change: this process's own and another process's.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "secpolicy/platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;

// Runs `change` in a forked process with its own connection to the state.
void InAnotherProcess(const std::function<void()>& change) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    try {
      change();
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

class KeptAnswersTest : public TestSupport::SimulatedHostTest {
 protected:
  HyxAccessInterfaceImpl iface;
};

TEST_F(KeptAnswersTest, LabelsFollowChangesOfThisAndOtherProcesses) {
  EXPECT_EQ(iface.LookupLabel("late", HYXACCESS_LABEL_OBJECT), 1u);
  EXPECT_FALSE(iface.FindDomain("lateDom", nullptr));
  InAnotherProcess([] {
    HyxAccessInterfaceImpl other;
    other.AddLabels({"late"}, HYXACCESS_LABEL_OBJECT);
    other.CreateDomain("lateDom", HYXACCESS_QSI_DEFDOM_NONE);
  });
  const std::uint32_t late = iface.LookupLabel("late", HYXACCESS_LABEL_OBJECT);
  EXPECT_GE(late, 2u);
  std::uint32_t id = 0;
  EXPECT_TRUE(iface.FindDomain("lateDom", &id));

  // A write of this process that leaves the labels alone keeps them; one
  // that removes a label is seen at once.
  HyxAccess_SyscallRule rule;
  rule.domainId = id;
  rule.syscallName = "read";
  iface.SetSyscallRule(rule);
  EXPECT_EQ(iface.LookupLabel("late", HYXACCESS_LABEL_OBJECT), late);
  iface.RemoveLabels({"late"}, HYXACCESS_LABEL_OBJECT);
  EXPECT_THROW(iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, "late"), HostCtlException);

  InAnotherProcess([] { HyxAccessInterfaceImpl().RemoveLabels({"lateDom"}, HYXACCESS_LABEL_DOMAIN); });
  EXPECT_FALSE(iface.FindDomain("lateDom", nullptr));
}

}  // namespace
