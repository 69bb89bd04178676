// The parallel walk and verify through the admin library's API: the same
// labels, counts and differences with any number of workers.
#include <filesystem>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/admin/label_verify.h"
#include "secpolicy/admin/label_walk.h"
#include "secpolicy/admin/progress.h"
#include "tests/support/sim_fixture.h"

namespace {

using SecPolicy::Admin::LabelDifference;

class AdminWalkTest : public TestSupport::SimulatedHostTest,
                      public ::testing::WithParamInterface<unsigned> {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    tree_ = scratch_.MakeDir("tree");
    for (const char* file : {"tree/a/1", "tree/a/2", "tree/b/c/3", "tree/skip/4", "tree/5"}) {
      scratch_.Write(file, "");
    }
    HostSim::InitFileLabel(tree_, true);
    mappings_ = scratch_.MakeDir("fileLabels");
    scratch_.Write("fileLabels/map", tree_ + "/* logFile\n");
  }

  std::string tree_, mappings_;
};

TEST_P(AdminWalkTest, LabelsCountsAndVerifiesAlike) {
  SecPolicy::Admin::ProgressCounter counter(GetParam());
  SecPolicy::Admin::WalkSettings settings;
  settings.jobs = GetParam();
  settings.exclusions.Add(tree_ + "/skip");
  settings.progress = &counter;
  SecPolicy::Admin::LabelTree(tree_, "logFile", settings);
  // tree, a, 1, 2, b, c, 3, 5: everything but skip and what it holds.
  EXPECT_EQ(counter.Entries(), 8u);
  EXPECT_EQ(counter.Folder().rfind(tree_, 0), 0u) << counter.Folder();

  SecPolicy::Admin::VerifyOptions options;
  options.mappingDir = mappings_;
  options.walk.jobs = GetParam();
  std::vector<std::string> reported;
  const auto result = SecPolicy::Admin::VerifyLabels(
      options, [&](const std::string& text) { reported.push_back(text); });
  EXPECT_EQ(result.matched, 8u);
  ASSERT_EQ(result.differences.size(), 2u);
  const LabelDifference& first = result.differences[0];
  EXPECT_EQ(first.path, tree_ + "/skip");
  EXPECT_EQ(first.current, "unlabeled");
  EXPECT_EQ(first.wanted, "logFile");
  EXPECT_EQ(result.differences[1].path, tree_ + "/skip/4");
  EXPECT_TRUE(result.errors.empty());
  EXPECT_TRUE(reported.empty());

  // A path no mapping covers is an error, reported as it is met.
  options.paths = {scratch_.str() + "/fileLabels/map"};
  const auto uncovered = SecPolicy::Admin::VerifyLabels(
      options, [&](const std::string& text) { reported.push_back(text); });
  ASSERT_EQ(uncovered.errors.size(), 1u);
  EXPECT_EQ(uncovered.errors[0].text, "No file-label mapping covers " + options.paths[0]);
  EXPECT_EQ(reported, std::vector<std::string>{uncovered.errors[0].text});
}

INSTANTIATE_TEST_SUITE_P(Jobs, AdminWalkTest, ::testing::Values(1u, 2u, 4u),
                         [](const auto& param) { return "jobs" + std::to_string(param.param); });

}  // namespace
