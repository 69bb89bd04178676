// A dry run's copy of the state lives only in its process: what it writes
// never reaches the state or another process, and a dry run killed at any
// point leaves nothing behind.
#include <gmock/gmock.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "hostsim/admin.h"
#include "secpolicy/platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using HyxCtl::Security::HyxAccessInterfaceImpl;

class DryRunCopyTest : public TestSupport::SimulatedHostTest {};

TEST_F(DryRunCopyTest, WritesStayInTheProcessThatMadeThem) {
  HyxAccessInterfaceImpl iface;
  iface.CreateDomain("kept", HYXACCESS_QSI_DEFDOM_NONE);
  {
    const HostSim::DryRun dryRun;
    iface.CreateDomain("thrownAway", HYXACCESS_QSI_DEFDOM_NONE);
    EXPECT_TRUE(iface.FindDomain("thrownAway", nullptr));
    EXPECT_EQ(TestSupport::RunTool("secpolicy", {"domain", "list"}).out, "2\tkept\n");
    // A forked child would otherwise fall through to the real state.
    const pid_t child = fork();
    if (child == 0) {
      try {
        HyxAccessInterfaceImpl().CreateDomain("fromChild", HYXACCESS_QSI_DEFDOM_NONE);
      } catch (const HostCtl::Lib::HostCtlException& refused) {
        _exit(std::strstr(refused.what(), ": a dry run's copy belongs to the process that made it") ? 0 : 2);
      }
      _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
  }
  EXPECT_FALSE(iface.FindDomain("thrownAway", nullptr));
  EXPECT_THAT(HostSim::Journal(), ::testing::ElementsAre("CreateDomain 2 kept 0"));
}

TEST_F(DryRunCopyTest, KilledCheckOrDiffLeavesNothingBehind) {
  // Large enough (about a second of work) that the signal lands while the
  // dry run works, however fast the check becomes.
  for (int d = 0; d < 50; ++d) {
    std::string text;
    for (int r = 0; r < 1000; ++r) text += "-r /data/d" + std::to_string(d) + "/f" + std::to_string(r) + " r\n";
    scratch_.Write("tree/domains/dom" + std::to_string(d), text);
  }
  const std::string shm = scratch_.MakeDir("shm");
  const std::string tmp = scratch_.MakeDir("tmp");
  setenv("TMPDIR", tmp.c_str(), 1);
  using std::chrono::milliseconds;
  const struct {
    const char* command;
    int signal;
    milliseconds after;
  } cases[] = {{"check", SIGKILL, milliseconds(40)}, {"check", SIGKILL, milliseconds(150)},
               {"check", SIGTERM, milliseconds(80)}, {"diff", SIGHUP, milliseconds(80)},
               {"diff", SIGKILL, milliseconds(150)}};
  for (const auto& c : cases) {
    const pid_t child = fork();
    if (child == 0) {
      // The tool's /dev/shm is a folder of the test, seen only by it.
      if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount(shm.c_str(), "/dev/shm", nullptr, MS_BIND, nullptr) != 0) {
        _exit(3);
      }
      TestSupport::RunLimits limits;
      limits.signalAfter = {c.signal, c.after};
      const auto result = TestSupport::RunTool("secpolicy", {c.command, scratch_.str() + "/tree"}, limits);
      _exit(result.status == -1 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot give the tool a /dev/shm of its own here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << c.command << " " << c.after.count() << " ms: not killed";
    EXPECT_TRUE(fs::is_empty(shm)) << c.command << " " << c.after.count() << " ms";
    EXPECT_TRUE(fs::is_empty(tmp)) << c.command << " " << c.after.count() << " ms";
  }
  unsetenv("TMPDIR");
}

}  // namespace
