#include <sys/resource.h>
#include <sys/xattr.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/labels/label_sync.h"
#include "secpolicy/platform/file_label_attr.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class FileLabelTest : public TestSupport::SimulatedHostTest {
 protected:
  // The text SetDirLabelRecursive/SetFileLabel/GetFileLabel throws, or "".
  template <typename Body>
  static std::string Failure(Body body) {
    try {
      body();
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      return failure.what();
    }
    return "";
  }
  HyxCtl::Security::HyxAccessInterfaceImpl iface_;
};

TEST_F(FileLabelTest, WritesReplaceOnlyAndReadsWantFourBytes) {
  const std::string bare = scratch_.Write("bare", "");
  EXPECT_EQ(Failure([&] { SecPolicy::SetFileLabel(bare, "systemFile", iface_); }),
            "Unable to set file label (systemFile) for file " + bare + ": No data available");
  const auto read = [&] { SecPolicy::GetFileLabel(bare, iface_); };
  ASSERT_EQ(setxattr(bare.c_str(), HyxCtl::Security::kFileLabelAttribute, "ab", 2, 0), 0);
  EXPECT_EQ(Failure(read), "Unable to get file label for file " + bare + ":No data available");
  ASSERT_EQ(setxattr(bare.c_str(), HyxCtl::Security::kFileLabelAttribute, "abcdefgh", 8, 0), 0);
  EXPECT_EQ(Failure(read), "Unable to get file label for file " + bare + ":Numerical result out of range");
}

// A walk that runs out of descriptors must still close every one it opened.
TEST_F(FileLabelTest, TreeDeeperThanTheDescriptorLimitLeaksNoDescriptor) {
  const std::string top = scratch_.MakeDir("deep");
  fs::path deepest = top;
  for (int level = 0; level < 80; ++level) deepest /= "d";
  fs::create_directories(deepest);
  HostSim::InitFileLabel(top, true);
  const auto open = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  const auto before = open();
  rlimit lowered{static_cast<rlim_t>(before + 24), saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
  const std::string error = Failure([&] { SecPolicy::SetDirLabelRecursive(top, "logFile", iface_); });
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(error.rfind("Unable to open directory " + top + "/d/d", 0), 0u) << error;
  EXPECT_EQ(open(), before);
}

struct SyncCase {
  const char* name;
  HyxAccessLabelType type;
  Strings kernel, invalid, policy;  // labels held, of those the invalid ones, labels of the policy
  Strings journal, reports;         // writes and informational lines, in order
};

class SyncLabelsTest : public TestSupport::SimulatedHostTest,
                       public ::testing::WithParamInterface<SyncCase> {};

TEST_P(SyncLabelsTest, WritesAndReportsInOrder) {
  const SyncCase& c = GetParam();
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  iface.AddLabels(c.kernel, c.type);
  for (const auto& name : c.invalid) HostSim::InvalidateLabel(name, c.type);
  std::map<std::string, std::int64_t> kernelMap;
  for (const auto& name : c.kernel) kernelMap.emplace(name, 0);
  const auto before = static_cast<long>(HostSim::Journal().size());
  SecPolicy::SyncLabelsFromPolicy(c.policy, kernelMap, c.type, iface);
  const Strings journal = HostSim::Journal();
  EXPECT_EQ(Strings(journal.begin() + before, journal.end()), c.journal);
  EXPECT_EQ(TestSupport::KernelLogTexts(), c.reports);
}

// An invalid label the policy dropped is refreshed, then removed as obsolete;
// names differing only in case do not match; predefined objects and
// privileged virtual machines stay.
INSTANTIATE_TEST_SUITE_P(
    Cases, SyncLabelsTest,
    ::testing::Values(
        SyncCase{"objects", HYXACCESS_LABEL_OBJECT, {"alpha", "beta", "gamma", "unlabeled"},
                 {"beta", "alpha"}, {"alpha", "Gamma", "alpha"},
                 {"RemoveLabels 1 alpha beta", "AddLabels 1 alpha beta", "RemoveLabels 1 beta gamma",
                  "AddLabels 1 alpha Gamma alpha"},
                 {"The values of the following objects have been changed:", "alpha", "beta",
                  "The following objects have been removed:", "beta", "gamma"}},
        SyncCase{"domains", HYXACCESS_LABEL_DOMAIN, {"hostVm", "oldDom"}, {}, {"newDom"},
                 {"RemoveLabels 0", "AddLabels 0", "RemoveLabels 0 oldDom", "AddLabels 0 newDom"},
                 {"The following domains have been removed:", "oldDom"}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
