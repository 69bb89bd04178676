// The directory-relative label calls, by each route they can take: the
// kernel's *xattrat calls, the descriptor route forced, and the descriptor
// route taken because the kernel answers ENOSYS (a seccomp filter in a child).
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>

#include "hostsim/admin.h"
#include "secpolicy/platform/file_label_attr.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using HyxCtl::Security::ReadFileLabelAttrAt;
using HyxCtl::Security::WriteFileLabelAttrAt;

enum class Route { kXattrAt, kForced, kEnosys };

class LabelAttrTest : public TestSupport::SimulatedHostTest,
                      public ::testing::WithParamInterface<Route> {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    dir_ = scratch_.MakeDir("dir");
    for (const char* file : {"dir/labelled", "dir/bare", "secret"}) scratch_.Write(file, "");
    fs::create_symlink(scratch_.str() + "/secret", dir_ + "/link");
    for (const std::string& path : {dir_, dir_ + "/labelled", scratch_.str() + "/secret"}) {
      setxattr(path.c_str(), HyxCtl::Security::kFileLabelAttribute, &kOld, sizeof kOld, 0);
    }
    HostSim::UseXattrAtCalls(GetParam() != Route::kForced);
  }
  void TearDown() override {
    HostSim::UseXattrAtCalls(true);
    SimulatedHostTest::TearDown();
  }

  static std::uint32_t Label(const std::string& path) {
    std::uint32_t id = 0;
    getxattr(path.c_str(), HyxCtl::Security::kFileLabelAttribute, &id, sizeof id);
    return id;
  }

  // Runs `body` in a child whose kernel lacks the *xattrat calls when the
  // route asks for it; returns the failures the body counted.
  template <typename Body>
  int Run(Body body) {
    if (GetParam() != Route::kEnosys) return body();
    const pid_t child = fork();
    if (child == 0) {
      sock_filter filter[] = {
          BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
          BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 463, 1, 0),
          BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, 464, 0, 1),
          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      };
      sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
      if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
          prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        _exit(100);
      }
      _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200;
  }

  static constexpr std::uint32_t kOld = 7, kNew = 9;
  std::string dir_;
};

TEST_P(LabelAttrTest, WritesReplaceOnlyAndNeverFollowALink) {
  const int failures = Run([this] {
    const int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int bad = 0;
    const auto expect = [&bad](bool ok) { bad += ok ? 0 : 1; };
    expect(WriteFileLabelAttrAt(fd, "labelled", "shown", kNew) == 0);
    expect(WriteFileLabelAttrAt(fd, "bare", "shown", kNew) == -1 && errno == ENODATA);
    expect(WriteFileLabelAttrAt(fd, "gone", "shown", kNew) == -1 && errno == ENOENT);
    WriteFileLabelAttrAt(fd, "link", "shown", kNew);  // the link itself, or a failure
    for (const char* name : {".", "..", "link/x", "../secret"}) {
      expect(WriteFileLabelAttrAt(fd, name, "shown", kNew) == -1 && errno == EINVAL);
    }
    std::uint32_t id = 0;
    expect(ReadFileLabelAttrAt(fd, "labelled", &id) == 4 && id == kNew);
    expect(ReadFileLabelAttrAt(fd, "link", &id) != 4 || id != kOld);
    expect(ReadFileLabelAttrAt(fd, "bare", &id) == -1 && errno == ENODATA);
    expect(WriteFileLabelAttrAt(fd, "", "shown", kNew) == 0);
    expect(ReadFileLabelAttrAt(fd, "", &id) == 4 && id == kNew);
    close(fd);
    return bad;
  });
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(Label(dir_ + "/labelled"), kNew);
  EXPECT_EQ(Label(scratch_.str() + "/secret"), kOld);
}

TEST_P(LabelAttrTest, RecordedWritesChangeNothing) {
  const int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  HostSim::RecordLabelWrites(true);
  EXPECT_EQ(WriteFileLabelAttrAt(fd, "labelled", "/policy/labelled", 8), 0);
  EXPECT_EQ(WriteFileLabelAttrAt(fd, "labelled", "/policy/labelled", kNew), 0);
  EXPECT_EQ(WriteFileLabelAttrAt(fd, "", "/policy", kNew), 0);
  EXPECT_EQ(WriteFileLabelAttrAt(fd, "bare", "/policy/bare", kNew), -1);
  EXPECT_EQ(errno, ENODATA);
  const auto writes = HostSim::TakeRecordedLabelWrites();
  HostSim::RecordLabelWrites(false);
  close(fd);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].path, "/policy");
  EXPECT_EQ(writes[1].path, "/policy/labelled");
  EXPECT_EQ(writes[1].before, kOld);
  EXPECT_EQ(writes[1].after, kNew);
  EXPECT_EQ(Label(dir_ + "/labelled"), kOld);
  EXPECT_EQ(Label(dir_), kOld);
}

std::string RouteName(const ::testing::TestParamInfo<Route>& route) {
  switch (route.param) {
    case Route::kXattrAt: return "XattrAt";
    case Route::kForced: return "Forced";
    case Route::kEnosys: return "Enosys";
  }
  return "";
}

INSTANTIATE_TEST_SUITE_P(Routes, LabelAttrTest,
                         ::testing::Values(Route::kXattrAt, Route::kForced, Route::kEnosys),
                         RouteName);

// label-init of a tree labels what is in it, never a link inside it (nor,
// through it, what the link names).
TEST(LabelInitTest, RecursiveInitLeavesLinksInsideTheTreeUnlabelled) {
  TestSupport::ScratchDir scratch;
  setenv("HOSTSIM_STATE", (scratch.path() / "state.db").c_str(), 1);
  HostSim::Init();
  const std::string outside = scratch.Write("outside", "");
  scratch.Write("tree/sub/file", "");
  fs::create_symlink(outside, scratch.path() / "tree/sub/link");
  const auto result = TestSupport::RunTool("hostsim", {"label-init", "-r", scratch.str() + "/tree"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto labelled = [](const fs::path& path) {
    char value[8];
    return lgetxattr(path.c_str(), HyxCtl::Security::kFileLabelAttribute, value, sizeof value) >= 0;
  };
  EXPECT_TRUE(labelled(scratch.path() / "tree/sub/file"));
  EXPECT_FALSE(labelled(scratch.path() / "tree/sub/link"));
  EXPECT_FALSE(labelled(outside));
}

}  // namespace
