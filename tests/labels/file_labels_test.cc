#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <filesystem>
#include <functional>
#include <string>

#include "hostsim/admin.h"
#include "labels/file_labels.h"
#include "platform/file_label_attr.h"
#include "platform/host_ctl_exception.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using HyxCtl::Security::kFileLabelAttribute;

class FileLabelTest : public TestSupport::SimulatedHostTest {
 protected:
  std::string Label(const std::string& path) { return SecPolicy::GetFileLabel(path, iface_); }
  // The text `body` throws, or "" when it returns.
  static std::string Failure(const std::function<void()>& body) {
    try {
      body();
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      return failure.what();
    }
    return "";
  }
  HyxCtl::Security::HyxAccessInterfaceImpl iface_;
};

struct SpecCase {
  std::string line;
  std::string result;  // "path|recursive", or the text thrown (FILE: the policy file)
};

class FileLabelSpecTest : public FileLabelTest, public ::testing::WithParamInterface<SpecCase> {};

TEST_P(FileLabelSpecTest, ParsesOneLine) {
  const std::string file = scratch_.Write("map", "\n" + GetParam().line + "\n");
  SecPolicy::FileLabelPolicy policy;
  std::string result = Failure([&] { policy.ParsePolicy(file, iface_); });
  for (const auto& m : policy.fileLabels) {
    result = m.path + "|" + (m.recursive ? "1" : "0") + " " + m.label + " " + m.file + ":" +
             std::to_string(m.line);
  }
  std::string expected = GetParam().result;
  if (expected.rfind("FILE", 0) == 0) expected.replace(0, 4, file);
  if (expected.find('|') != std::string::npos) expected += " systemFile " + file + ":2";
  EXPECT_EQ(result, expected);
}

const std::string kBadSpec = "FILE:2 : Unrecognized format for file/dir specification";
INSTANTIATE_TEST_SUITE_P(
    Specs, FileLabelSpecTest,
    ::testing::Values(SpecCase{"/opt/app/* systemFile", "/opt/app|1"},
                      SpecCase{"rel/a*b systemFile", "rel/a*b|0"}, SpecCase{"/* systemFile", "|1"},
                      SpecCase{"/a/*b systemFile", kBadSpec},
                      SpecCase{"/a SystemFile", "Unknown object keyword: SystemFile"}));

TEST_F(FileLabelTest, WritesReplaceOnlyAndReadsWantFourBytes) {
  const std::string bare = scratch_.Write("bare", "");
  const std::string file = scratch_.Write("file", "");
  HostSim::InitFileLabel(file, false);
  EXPECT_EQ(Failure([&] { SecPolicy::SetFileLabel(bare, "systemFile", iface_); }),
            "Unable to set file label (systemFile) for file " + bare + ": No data available");
  EXPECT_EQ(Failure([&] { SecPolicy::SetFileLabel(file, "nope", iface_); }),
            "Invalid label (nope) for file " + file);
  SecPolicy::SetFileLabel(file, "systemFile", iface_);
  EXPECT_EQ(Label(file), "systemFile");

  ASSERT_EQ(setxattr(bare.c_str(), kFileLabelAttribute, "ab", 2, 0), 0);
  EXPECT_EQ(Failure([&] { Label(bare); }),
            "Unable to get file label for file " + bare + ":No data available");
  ASSERT_EQ(setxattr(bare.c_str(), kFileLabelAttribute, "abcdefgh", 8, 0), 0);
  EXPECT_EQ(Failure([&] { Label(bare); }),
            "Unable to get file label for file " + bare + ":Numerical result out of range");
}

TEST_F(FileLabelTest, TreeLabelsPipesDevicesAndDirectoriesButNotLinks) {
  scratch_.Write("tree/sub/file", "");
  const std::string top = scratch_.str() + "/tree";
  const std::string outside = scratch_.Write("outside/file", "");
  ASSERT_EQ(mkfifo((top + "/fifo").c_str(), 0600), 0);
  const bool device = mknod((top + "/sub/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  fs::create_symlink(outside, top + "/link");
  fs::create_directory_symlink(scratch_.str() + "/outside", top + "/dirLink");
  HostSim::InitFileLabel(scratch_.str(), true);

  SecPolicy::SetDirLabelRecursive(top, "logFile", iface_);
  for (const std::string name : {"", "/fifo", "/sub", "/sub/file", device ? "/sub/null" : ""}) {
    EXPECT_EQ(Label(top + name), "logFile") << name;
  }
  EXPECT_EQ(Label(outside), "unlabeled");
  EXPECT_EQ(Label(scratch_.str() + "/outside"), "unlabeled");
}

int OpenDescriptors() {
  return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

TEST_F(FileLabelTest, TreeDeeperThanTheDescriptorLimitFailsCleanly) {
  const std::string top = scratch_.MakeDir("deep");
  std::string deepest = top;
  for (int level = 0; level < 80; ++level) deepest += "/d";
  fs::create_directories(deepest);
  HostSim::InitFileLabel(top, true);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int before = OpenDescriptors();
  rlimit lowered = saved;
  lowered.rlim_cur = static_cast<rlim_t>(before + 24);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  const std::string error = Failure([&] { SecPolicy::SetDirLabelRecursive(top, "logFile", iface_); });
  setrlimit(RLIMIT_NOFILE, &saved);

  EXPECT_EQ(error.rfind("Unable to open directory " + top + "/d/d", 0), 0u) << error;
  EXPECT_EQ(error.find(':'), std::string::npos) << error;
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(Label(top + "/d"), "logFile");  // labels written before the failure stay
}

}  // namespace
