// A user who can write inside a labelled tree swaps a sub-folder with a link
// to a folder outside it, and a file with a link to a file outside it, while
// the tree is being labelled. Nothing outside the tree may ever get the
// tree's label.
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/platform/file_label_attr.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class LabelRaceTest : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    tree_ = scratch_.MakeDir("tree");
    outside_ = scratch_.MakeDir("outside");
    for (const char* file : {"tree/sub/a", "tree/sub/b", "tree/f", "outside/secret"}) {
      scratch_.Write(file, "");
    }
    fs::create_symlink(outside_, tree_ + "/link");
    fs::create_symlink(outside_ + "/secret", tree_ + "/flink");
    HostSim::InitFileLabel(tree_, true);
    HostSim::InitFileLabel(outside_, true);
    mappings_ = scratch_.Write("fileLabels/map", tree_ + "/* logFile\n");
  }

  std::uint32_t RawLabel(const std::string& path) const {
    std::uint32_t id = 0;
    getxattr(path.c_str(), HyxCtl::Security::kFileLabelAttribute, &id, sizeof id);
    return id;
  }

  // Runs `label` over and over for `seconds` while another thread keeps
  // exchanging tree/sub with tree/link and tree/f with tree/flink; returns how many runs it took until
  // the outside folder or its file changed label, or 0 when none did.
  int RunsUntilLeak(const std::function<void()>& label, double seconds) {
    const std::uint32_t before = RawLabel(outside_);
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
      const std::string dir = tree_ + "/sub", dirLink = tree_ + "/link";
      const std::string file = tree_ + "/f", fileLink = tree_ + "/flink";
      while (!stop) {
        renameat2(AT_FDCWD, dir.c_str(), AT_FDCWD, dirLink.c_str(), RENAME_EXCHANGE);
        renameat2(AT_FDCWD, file.c_str(), AT_FDCWD, fileLink.c_str(), RENAME_EXCHANGE);
      }
    });
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    int leakedAt = 0;
    for (int run = 1; leakedAt == 0 && Clock::now() < deadline; ++run) {
      try {
        label();
      } catch (const HostCtl::Lib::HostCtlException&) {
        // Entries vanish and change type under the walk: failures are fine.
      }
      if (RawLabel(outside_) != before || RawLabel(outside_ + "/secret") != before) leakedAt = run;
    }
    stop = true;
    swapper.join();
    return leakedAt;
  }

  std::string tree_, outside_, mappings_;
  HyxCtl::Security::HyxAccessInterfaceImpl iface_;
};

TEST_F(LabelRaceTest, SetDirLabelRecursiveStaysInTheTree) {
  EXPECT_EQ(RunsUntilLeak([&] { SecPolicy::SetDirLabelRecursive(tree_, "logFile", iface_); }, 1.5), 0);
}

TEST_F(LabelRaceTest, LoadPolicyFileLabelsStaysInTheTree) {
  const std::string dir = scratch_.str() + "/fileLabels";
  TestSupport::Capture([&] {
    EXPECT_EQ(RunsUntilLeak([&] { SecPolicy::LoadPolicyFileLabels(dir, iface_); }, 1.5), 0);
  });
}

TEST_F(LabelRaceTest, ToolWorkersStayInTheTree) {
  const TestSupport::ToolResult* failed = nullptr;
  TestSupport::ToolResult last;
  EXPECT_EQ(RunsUntilLeak(
                [&] {
                  last = TestSupport::RunTool("secpolicy", {"label", "set", "-r", "--jobs", "2",
                                                            tree_, "logFile"});
                  if (last.status < 0) failed = &last;
                },
                1.5),
            0);
  EXPECT_EQ(failed, nullptr) << "killed by a signal";
}

}  // namespace
