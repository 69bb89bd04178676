// query and graph as the tools, on the example host under a private host
// root (skipped where the process may not make one).
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/sim_fixture.h"

namespace {

using TestSupport::RunTool;

class QueryCliTest : public TestSupport::SimulatedHostTest {
 protected:
  TestSupport::ToolResult Secpolicy(const std::vector<std::string>& args) {
    const std::string host = SECPOLICY_SOURCE_DIR "/examples/host";
    RunTool("hostsim", {"tardisk", "map", host + "/etc/norvane/secpolicy/tardisks/iofilters", "iofilters"});
    std::vector<std::string> words{"run", "--root", host, "--", SECPOLICY_BIN_DIR "/secpolicy"};
    words.insert(words.end(), args.begin(), args.end());
    auto result = RunTool("hostsim", words);
    if (result.err.find("private mount namespace") != std::string::npos) skip_ = true;
    return result;
  }
  bool skip_ = false;
};

struct StatusCase {
  std::vector<std::string> args;
  int status;
  std::string firstLine;  // of standard output, or of standard error when empty there
};

TEST_F(QueryCliTest, ExitStatusesAndAnswers) {
  const std::string tardisk = "/etc/norvane/secpolicy/tardisks/iofilters:3: ";
  const std::vector<StatusCase> cases = {
      {{"query", "--enters", "ioFilterDom"}, 0, "(special role): ioFilterDom: I/O filter domain"},
      {{"query", "--enters", "ioFilterDom", "--domain", "appDom"}, 0,
       tardisk + "appDom: -d ioFilterBinary ioFilterDom exec grant [tardisk policy]"},
      {{"query", "--uses", "vmDisk", "--type", "f"}, 0,
       "/etc/norvane/secpolicy/domains/vmrun:19: vmrun: -f vmDisk vmDisk file grant"},
      {{"query", "--match", "nosuchword"}, 1, ""},
      {{"query", "--type=-z"}, 2, "Error: unknown rule type -z (one of -a -c -d -f -p -r -s -u)"},
      {{"query", "--action", "maybe"}, 2, ""},
      {{"query", "--enters", "a", "--uses", "b"}, 2,
       "Error: ask one of --enters, --uses and --path at a time"},
      {{"query", "/nonexistent"}, 2, "Error: No policy directory /nonexistent"},
      {{"graph", "--output", "/tmp/x.gif"}, 1,
       "Error: Cannot render /tmp/x.gif: the file name must end in .svg or .png"},
  };
  for (const StatusCase& c : cases) {
    const auto result = Secpolicy(c.args);
    if (skip_) GTEST_SKIP() << "no private mount namespace here";
    std::string args;
    for (const auto& a : c.args) args += a + " ";
    EXPECT_EQ(result.status, c.status) << args << result.err;
    const std::string& text = result.out.empty() ? result.err : result.out;
    if (!c.firstLine.empty()) {
      EXPECT_EQ(text.substr(0, text.find('\n')), c.firstLine) << args;
    }
  }
}

TEST_F(QueryCliTest, KernelAnswersAfterALoad) {
  ASSERT_EQ(Secpolicy({"load-domains", "/etc/norvane/secpolicy/domains"}).status, 1);  // no objects yet
  if (skip_) GTEST_SKIP() << "no private mount namespace here";
  const auto result = Secpolicy({"query", "--kernel", "--domain", "superDom", "--match", "fork"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "(kernel):3: superDom: -s fork grant\n");
}

TEST_F(QueryCliTest, GraphWithoutGraphvizSaysSo) {
  const std::string svg = scratch_.str() + "/g.svg";
  const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin";
  setenv("PATH", "/nonexistent", 1);
  const auto result = Secpolicy({"graph", "--output", svg});
  setenv("PATH", path.c_str(), 1);
  if (skip_) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("Graphviz's dot is not installed"), std::string::npos) << result.err;
  EXPECT_FALSE(std::filesystem::exists(svg));
}

}  // namespace
