// The simulated host's own outputs and inputs: journal and kernel log lines
// that cannot forge lines, fault names and numbers that are checked, a
// profile that cannot exhaust memory.
#include <gmock/gmock.h>

#include "hostsim/admin.h"
#include "secpolicy/platform/host_system.h"
#include "secpolicy/platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

using TestSupport::RunTool;
using ::testing::HasSubstr;

class ToolHygieneTest : public TestSupport::SimulatedHostTest {};

TEST_F(ToolHygieneTest, JournalAndLogPrintOneLinePerEntry) {
  // The kernel refuses such names, but removing one is journalled as given.
  HyxCtl::Security::HyxAccessInterfaceImpl().RemoveLabels({"a\nb\x1b[31m\\\t\x7f"}, HYXACCESS_LABEL_OBJECT);
  HyxCtl::System::WriteToKlog("two\nlines\r", "[IN\x01" "FO]");
  EXPECT_EQ(RunTool("hostsim", {"journal"}).out, "RemoveLabels 1 a\\nb\\x1b[31m\\\\\\t\\x7f\n");
  EXPECT_EQ(RunTool("hostsim", {"log"}).out, "[IN\\x01FO] two\\nlines\\r\n");
}

TEST_F(ToolHygieneTest, FaultsNameOperationsThatExistWithNumbersThatMeanSomething) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {{"FindDomian"}, 2,
       "OPERATION: unknown operation \"FindDomian\"; nearest: FindDomain (see hostsim fail --list)\n"},
      {{"setcaprule"}, 2, "nearest: SetCapRule (see"},
      {{"Nonsense\n"}, 2, "unknown operation \"Nonsense\\n\" (see hostsim fail --list)\n"},
      {{"--status", "0", "SetCapRule"}, 2, "--status: not a 32-bit status (1 to 4294967295, decimal or 0x hex): \"0\"\n"},
      {{"--status", "", "SetCapRule"}, 2, "--status: not a 32-bit status (1 to 4294967295, decimal or 0x hex): \"\"\n"},
      {{"--status", " 7", "SetCapRule"}, 2, "not a 32-bit status"},
      {{"--errno", "", "SetCapRule"}, 2, "--errno: not an error number (1 to 4095, decimal or 0x hex): \"\"\n"},
      {{"--errno", "70000", "SetCapRule"}, 2, "--errno: not an error number (1 to 4095, decimal or 0x hex): \"70000\"\n"},
      {{"--times", "", "CreateDomain"}, 2, "--times: not a count (1 to 2147483647, decimal or 0x hex): \"\"\n"},
      {{}, 2, "OPERATION is required"},
      {{"--errno", "5", "FindDomain"}, 1, "Error: Unknown kernel call FindDomain\n"},
      {{"--status", "0x10", "--times", "2", "SetCapRule"}, 0, ""},
      {{"clear"}, 0, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"fail"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto result = RunTool("hostsim", args);
    EXPECT_EQ(result.status, c.status) << ::testing::PrintToString(c.args);
    EXPECT_THAT(result.err, HasSubstr(c.err)) << ::testing::PrintToString(c.args);
  }
  std::string listed;
  for (const auto& name : HostSim::FaultOperations()) listed += name + "\n";
  EXPECT_EQ(RunTool("hostsim", {"fail", "--list"}).out, listed);
  EXPECT_THAT(listed, ::testing::StartsWith("AddFilePolicyBatch\nAddHvcService\n"));
}

TEST_F(ToolHygieneTest, EndlessProfileFailsFastAndLeavesTheStateAlone) {
  const auto result = RunTool("hostsim", {"init", "--profile", "/dev/zero"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: Bad host profile /dev/zero: larger than 16 MiB\n");
  EXPECT_EQ(RunTool("secpolicy", {"domain", "create", "stillHere"}).status, 0);
}

}  // namespace
