// The example host's tree, loaded by the tool as a separate process.
#include <gtest/gtest.h>

#include "tests/support/sim_fixture.h"

namespace {

using TestSupport::RunTool;

class DomainCliTest : public TestSupport::SimulatedHostTest {};

TEST_F(DomainCliTest, ExampleTreeLoadsCleanAndDisplays) {
  const std::string tree = std::string(SECPOLICY_SOURCE_DIR) + "/examples/host/etc/norvane/secpolicy";
  for (const char* kind : {"objects", "domains"}) {
    const auto load = RunTool("secpolicy", {std::string("load-") + kind, tree + "/" + kind});
    EXPECT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(load.err, "");
  }
  const auto display = RunTool("secpolicy", {"display-domains"});
  EXPECT_EQ(display.status, 0) << display.err;
  for (const char* text : {"Domain Name: superDom Domain ID :", "Domain Name: netd Domain ID :",
                           "-p socket inet stream grant\n", "-u netdSocket create grant\n"}) {
    EXPECT_NE(display.out.find(text), std::string::npos) << text;
  }
}

}  // namespace
