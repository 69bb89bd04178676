#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "labels/file_labels.h"
#include "platform/file_label_attr.h"
#include "platform/host_ctl_exception.h"
#include "platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;
using SecPolicy::FileLabelPolicy;
using TestSupport::Capture;

class FileLabelTest : public TestSupport::SimulatedHostTest {
 protected:
  std::string Label(const std::string& path) { return SecPolicy::GetFileLabel(path, iface_); }
  // The text of the HostCtlException `body` throws, or "" when it returns.
  template <typename Body>
  static std::string Failure(Body body) {
    try {
      body();
    } catch (const HostCtlException& failure) {
      return failure.what();
    }
    return "";
  }
  HyxAccessInterfaceImpl iface_;
};

struct SpecCase {
  std::string line;
  std::string path;  // expected mapping, or
  bool recursive;
  std::string error;  // the text thrown; "FILE" stands for the policy file
};

class FileLabelSpecTest : public FileLabelTest, public ::testing::WithParamInterface<SpecCase> {};

TEST_P(FileLabelSpecTest, ParsesOneLine) {
  const SpecCase& c = GetParam();
  const std::string file = scratch_.Write("map", "\n" + c.line + "\n");
  FileLabelPolicy policy;
  const std::string error = Failure([&] { policy.ParsePolicy(file, iface_); });
  if (!c.error.empty()) {
    std::string expected = c.error;
    if (expected.rfind("FILE", 0) == 0) expected.replace(0, 4, file);
    EXPECT_EQ(error, expected);
    EXPECT_TRUE(policy.fileLabels.empty());
    return;
  }
  ASSERT_EQ(error, "");
  ASSERT_EQ(policy.fileLabels.size(), 1u);
  const auto& mapping = policy.fileLabels.front();
  EXPECT_EQ(mapping.path, c.path);
  EXPECT_EQ(mapping.recursive, c.recursive);
  EXPECT_EQ(mapping.label, "systemFile");
  EXPECT_EQ(mapping.file, file);
  EXPECT_EQ(mapping.line, 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Specs, FileLabelSpecTest,
    ::testing::Values(
        SpecCase{"/opt/app/* systemFile", "/opt/app", true, ""},
        SpecCase{"/opt/app systemFile", "/opt/app", false, ""},
        SpecCase{"rel/a*b systemFile", "rel/a*b", false, ""},
        SpecCase{"/* systemFile", "", true, ""},
        SpecCase{"/a/*/b systemFile", "", false,
                 "FILE:2 : Unrecognized format for file/dir specification"},
        SpecCase{"/a/*b systemFile", "", false,
                 "FILE:2 : Unrecognized format for file/dir specification"},
        SpecCase{"/a/*/b/* systemFile", "", false,
                 "FILE:2 : Unrecognized format for file/dir specification"},
        SpecCase{"/a", "", false, "FILE:2 : incorrect no of parameters"},
        SpecCase{"/a systemFile extra", "", false, "FILE:2 : incorrect no of parameters"},
        SpecCase{"/a SystemFile", "", false, "Unknown object keyword: SystemFile"}));

TEST_F(FileLabelTest, WritesOnlyReplaceAnExistingLabel) {
  const std::string bare = scratch_.Write("bare", "");
  const std::string labelled = scratch_.Write("labelled", "");
  HostSim::InitFileLabel(labelled, false);

  EXPECT_EQ(Failure([&] { SecPolicy::SetFileLabel(bare, "systemFile", iface_); }),
            "Unable to set file label (systemFile) for file " + bare + ": No data available");
  EXPECT_EQ(Failure([&] { SecPolicy::SetFileLabel(labelled, "noSuch", iface_); }),
            "Invalid label (noSuch) for file " + labelled);
  EXPECT_EQ(Label(labelled), "unlabeled");
  SecPolicy::SetFileLabel(labelled, "systemFile", iface_);
  EXPECT_EQ(Label(labelled), "systemFile");
}

TEST_F(FileLabelTest, ReadRejectsValuesOfTheWrongSize) {
  const std::string shortValue = scratch_.Write("short", "");
  const std::string longValue = scratch_.Write("long", "");
  ASSERT_EQ(setxattr(shortValue.c_str(), HyxCtl::Security::kFileLabelAttribute, "ab", 2, 0), 0);
  ASSERT_EQ(setxattr(longValue.c_str(), HyxCtl::Security::kFileLabelAttribute, "abcdefgh", 8, 0), 0);
  const std::string prefix = "Unable to get file label for file ";
  EXPECT_EQ(Failure([&] { Label(shortValue); }), prefix + shortValue + ":No data available");
  EXPECT_EQ(Failure([&] { Label(longValue); }), prefix + longValue + ":Numerical result out of range");
}

TEST_F(FileLabelTest, TreeLabelsPipesDevicesAndDirectoriesButNotLinks) {
  const std::string tree = scratch_.MakeDir("tree");
  const std::string outside = scratch_.Write("outside", "");
  const std::string outsideDir = scratch_.MakeDir("outsideDir");
  scratch_.Write("tree/file", "");
  scratch_.Write("tree/sub/deeper/file", "");
  ASSERT_EQ(mkfifo((tree + "/fifo").c_str(), 0600), 0);
  const bool haveDevice = mknod((tree + "/sub/null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  fs::create_symlink(outside, tree + "/link");
  fs::create_directory_symlink(outsideDir, tree + "/dirLink");
  HostSim::InitFileLabel(tree, true);
  HostSim::InitFileLabel(outside, false);
  HostSim::InitFileLabel(outsideDir, false);

  SecPolicy::SetDirLabelRecursive(tree, "logFile", iface_);

  std::vector<std::string> labelled{tree, tree + "/file", tree + "/fifo", tree + "/sub",
                                    tree + "/sub/deeper", tree + "/sub/deeper/file"};
  if (haveDevice) labelled.push_back(tree + "/sub/null");
  for (const auto& path : labelled) EXPECT_EQ(Label(path), "logFile") << path;
  EXPECT_EQ(Label(outside), "unlabeled");
  EXPECT_EQ(Label(outsideDir), "unlabeled");
}

int OpenDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST_F(FileLabelTest, TreeDeeperThanTheDescriptorLimitFailsCleanly) {
  std::string deepest = scratch_.MakeDir("deep");
  const std::string top = deepest;
  for (int level = 0; level < 80; ++level) deepest += "/d";
  fs::create_directories(deepest);
  HostSim::InitFileLabel(top, true);
  iface_.LookupLabel("logFile", HYXACCESS_LABEL_OBJECT);  // the state is open before the limit

  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int before = OpenDescriptors();
  rlimit lowered = saved;
  lowered.rlim_cur = static_cast<rlim_t>(before + 24);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  const std::string error = Failure([&] { SecPolicy::SetDirLabelRecursive(top, "logFile", iface_); });
  setrlimit(RLIMIT_NOFILE, &saved);

  EXPECT_EQ(error.rfind("Unable to open directory " + top + "/d/d", 0), 0u) << error;
  EXPECT_EQ(error.find(':'), std::string::npos) << "no system text: " << error;
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(Label(top + "/d"), "logFile");  // labels written before the failure stay
}

TEST_F(FileLabelTest, LoadReportsEachFailureWithItsFileAndLine) {
  const std::string file = scratch_.Write("files/file", "");
  const std::string tree = scratch_.MakeDir("files/tree");
  scratch_.Write("files/tree/inner", "");
  HostSim::InitFileLabel(scratch_.str() + "/files", true);
  const std::string missing = scratch_.str() + "/files/missing";
  const std::string good = scratch_.Write(
      "labels/good", file + " systemFile\n" + missing + " systemFile\n" + tree + "/* logFile\n");
  const std::string bad = scratch_.Write("labels/later", "/a/*/b systemFile\n");

  std::string thrown;
  const auto output = Capture([&] {
    try {
      SecPolicy::LoadPolicyFileLabels(scratch_.str() + "/labels", iface_);
    } catch (const HostCtlException& failure) {
      thrown = failure.what();
    }
  });
  EXPECT_EQ(thrown, "Failure in file labels policy");
  EXPECT_EQ(output.err,
            "Error: Error parsing file " + bad + "\n" +
            "Error: " + bad + ":1 : Unrecognized format for file/dir specification\n" +
            "Error: Error in parsing some file label mappings.\n" +
            "Error: " + good + ":2 : Unable to set file label (systemFile) for file " + missing +
            ": No such file or directory\n" +
            "Error: There was a failure in setting file labels\n" +
            "Error: Error in setting some file labels.\n");
  EXPECT_EQ(Label(file), "systemFile");
  EXPECT_EQ(Label(tree + "/inner"), "logFile");
}

TEST_F(FileLabelTest, EmptyDirectoryLoadsAndAppliedQueueIsConsumed) {
  SecPolicy::LoadPolicyFileLabels(scratch_.MakeDir("empty"), iface_);
  EXPECT_EQ(TestSupport::KernelLogTexts(),
            (std::vector<std::string>{"Parsed all file label mappings", "Set all file labels"}));

  const std::string file = scratch_.Write("f", "");
  HostSim::InitFileLabel(file, false);
  FileLabelPolicy policy;
  policy.ParsePolicy(scratch_.Write("map", file + " systemFile\n"), iface_);
  policy.SetFileLabels(iface_);
  SecPolicy::SetFileLabel(file, "logFile", iface_);
  policy.SetFileLabels(iface_);  // nothing left to write
  EXPECT_EQ(Label(file), "logFile");
}

}  // namespace
