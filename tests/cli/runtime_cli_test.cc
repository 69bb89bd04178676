// The runtime commands of the secpolicy tool, run as separate processes
// against the fixture's simulated host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/platform/kernel_records.h"
#include "tests/support/sim_fixture.h"

namespace {

using TestSupport::RunTool;
using Args = std::vector<std::string>;

class RuntimeCliTest : public TestSupport::SimulatedHostTest {
 protected:
  std::string Out(const Args& args) {
    const auto result = RunTool("secpolicy", args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    return result.out;
  }
  // The id the tool prints for a new domain.
  std::string Create(const std::string& name) {
    const std::string out = Out({"domain", "create", name});
    return out.substr(0, out.find('\n'));
  }
};

TEST_F(RuntimeCliTest, DomainCreatedByOneProcessIsSeenByTheNext) {
  const std::string id = Create("myDom");
  EXPECT_EQ(Out({"domain", "name", id}), "myDom\n");
  HostSim::AddWorld(-1, static_cast<std::uint32_t>(std::stoul(id)));
  EXPECT_EQ(Out({"domain", "of-world", "-1"}), id + "\n");
  Out({"domain", "destroy", id});  // a world still runs in it: leaked
  EXPECT_EQ(Out({"domain", "leaked"}), id + "\n");
}

TEST_F(RuntimeCliTest, FilePolicyRoundTripAndBoundedRetries) {
  const std::string id = Create("fileDom");
  Out({"file-policy", "add", "0", id, "/bin", "rx", "/etc/x", "0x3"});
  EXPECT_EQ(Out({"file-policy", "list", id}), "/bin 0x11\n/etc/x 0x3\n");
  Out({"file-policy", "update", id, "/bin", "wr"});
  Out({"file-policy", "replace", "/bin", "/sbin"});
  Out({"file-policy", "remove", "0", id, "/etc/x"});
  EXPECT_EQ(Out({"file-policy", "count", id}), "1\n");

  HostSim::Fault retry;
  retry.operation = "RetrieveFilePolicies";
  retry.status = kHyxAccessStatusRetry;
  retry.times = 2;
  HostSim::AddFault(retry);
  EXPECT_EQ(Out({"file-policy", "list", id}), "/sbin 0x3\n");
  retry.times.reset();
  HostSim::AddFault(retry);
  EXPECT_EQ(RunTool("secpolicy", {"file-policy", "list", id}).status, 75);
}

// Arguments reach the library as given, so its own checks answer with exit 1;
// bad numbers and arity are usage errors (exit 2) that reach no kernel.
TEST_F(RuntimeCliTest, RefusalsAndUsageErrors) {
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"domain", "create", ""}, "Must specify domain name"},
      {{"domain", "add-hvc", "1", ""}, "Must specify service string"},
      {{"file-policy", "remove", "0", "1", ""}, "file path is empty"},
      {{"file-policy", "update", "1", "", "r"}, "File path is empty"},
      {{"file-policy", "replace", "", ""}, "Old path is empty"},
      {{"cap", "set", "1", "19", "0"}, "Capability is not in range"},
      {{"param-check", "set", "1", "10", "0", "--null-mode"}, "ParamCheck is not in range"},
      {{"param-check", "remove", "1", "9", "--null-mode"}, "Mode Param is NULL"},
      {{"domain", "create"}, ""}, {{"domain", "destroy", "7x"}, ""}, {{"domain", "destroy", "-1"}, ""},
      {{"domain", "name", "4294967296"}, ""}, {{"domain", "of-world", "2147483648"}, ""},
      {{"cap", "set", "1", "2", "256"}, ""}, {{"file-policy", "add", "0", "1", "/a"}, ""},
      {{"file-policy", "add", "0", "1", "/a", "rq"}, ""}, {{"file-policy", "add", "0", "1", "/a", "rr"}, ""},
      {{"file-policy", "add", "0", "1", "/a", "r", "/b"}, ""}, {{"param-check", "remove", "1", "2", "3"}, ""},
      {{"param-check", "set", "1", "2", "3", "4", "5", "--null-mode"}, ""}, {{"label", "set", "/a"}, ""}};
  for (const auto& [args, text] : cases) {
    const auto result = RunTool("secpolicy", args);
    EXPECT_EQ(result.status, text.empty() ? 2 : 1) << args[1] << " " << args.back();
    const std::string shown = result.err + result.out;
    EXPECT_TRUE(text.empty() ? !result.err.empty() : shown == "Error: " + text + "\n") << shown;
  }
  EXPECT_TRUE(HostSim::Journal().empty());
}

}  // namespace
