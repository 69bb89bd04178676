#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "tests/support/sim_fixture.h"

namespace {

using TestSupport::RunTool;

class LabelCliTest : public TestSupport::SimulatedHostTest {};

// The bad-line case is in the corpus; a kernel failure is reported without its own text.
TEST_F(LabelCliTest, LoadObjectsKernelFailureIsReportedWithoutItsText) {
  HostSim::Fault fault;
  fault.operation = "AddLabels";
  HostSim::AddFault(fault);
  scratch_.Write("objects/main", "first\n");
  const auto failed = RunTool("secpolicy", {"load-objects", scratch_.str() + "/objects"});
  EXPECT_EQ(failed.err, "Error: Error in defining some objects\nError: Failure in object policy\n");
}

TEST_F(LabelCliTest, RecursiveSetThenGet) {
  const std::string tree = scratch_.MakeDir("tree");
  scratch_.Write("tree/sub/file", "");
  HostSim::InitFileLabel(tree, true);

  auto result = RunTool("secpolicy", {"label", "set", "--recursive", tree, "logFile"});
  EXPECT_EQ(result.status, 0) << result.err;
  result = RunTool("secpolicy", {"label", "get", tree + "/sub/file"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "logFile\n");

  const std::string bare = scratch_.Write("bare", "");
  result = RunTool("secpolicy", {"label", "get", bare});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: Unable to get file label for file " + bare + ":No data available\n");
  EXPECT_EQ(RunTool("secpolicy", {"label", "set", bare}).status, 2);
}

}  // namespace
