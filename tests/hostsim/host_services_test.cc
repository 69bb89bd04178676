// Host services of the simulated host: the profile, and the tool sharing
// the state with this process.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "hostsim/admin.h"
#include "secpolicy/platform/host_system.h"
#include "secpolicy/platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

using HostCtl::Lib::HostCtlException;
using TestSupport::RunTool;
using ::testing::ThrowsMessage;

class HostServicesTest : public TestSupport::SimulatedHostTest {
 protected:
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
};

TEST_F(HostServicesTest, BadProfilesAreRefusedWithAClearMessage) {
  std::ifstream in(std::string(SECPOLICY_SOURCE_DIR) + "/hostsim/profiles/default.json");
  const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto replaced = [&](const std::string& piece, const std::string& by) {
    return std::string(good).replace(good.find(piece), piece.size(), by);
  };
  for (const auto& [json, message] : std::vector<std::pair<std::string, std::string>>{
           {"{\"maxDomains\": 64", "not valid JSON"},
           {replaced("\"maxDomains\": 64,", ""), "missing key \"maxDomains\""},
           {replaced("\"execEvent\"", "\"execEvnt\""), "missing key \"tardisks.execEvent\""},
           {replaced("\"maxDomains\": 64", "\"maxDomains\": \"64\""), "\"maxDomains\" must be a whole number"},
           {replaced("\"execEvent\": \"exec\"", "\"execEvent\": \"launch\""),
            "\"tardisks.execEvent\" must be one of \"keywords.events\""},
           {replaced("\"initialFileLabel\": \"unlabeled\"", "\"initialFileLabel\": 3"),
            "\"initialFileLabel\" must be a non-empty string"}}) {
    const std::string path = scratch_.Write("bad.json", json);
    EXPECT_THAT([&] { HostSim::Init(path); },
                ThrowsMessage<HostCtlException>(::testing::StartsWith("Bad host profile " + path + ": " + message)));
  }
  EXPECT_EQ(iface.GetMaxDomains(), 64u);  // the refused profiles left the state alone
}

TEST_F(HostServicesTest, ToolSharesTheStateAndItsFaultsBeatKeptAnswers) {
  const std::uint32_t id = iface.CreateDomain("appDom", HYXACCESS_QSI_DEFDOM_APP);
  EXPECT_GE(iface.LookupLabel("systemFile", HYXACCESS_LABEL_OBJECT), 2u);
  EXPECT_EQ(RunTool("hostsim", {"world", "add", "12", std::to_string(id)}).status, 0);
  EXPECT_EQ(RunTool("hostsim", {"fail", "LookupLabel", "--message", "from the tool", "--times", "1"}).status, 0);
  EXPECT_THAT([&] { iface.LookupLabel("systemFile", HYXACCESS_LABEL_OBJECT); },
              ThrowsMessage<HostCtlException>(::testing::StrEq("from the tool")));
  EXPECT_GE(iface.LookupLabel("systemFile", HYXACCESS_LABEL_OBJECT), 2u);
  HyxAccess_SyscallRule rule;
  rule.domainId = id;
  rule.syscallName = "open";
  iface.SetSyscallRule(rule);
  HyxCtl::System::WriteToKlog("hello", "[INFO]");

  EXPECT_EQ(RunTool("hostsim", {"journal"}).out,
            "CreateDomain 2 appDom 2\nAddWorld 12 2\nSetSyscallRule 2 appDom open revoke\n");
  EXPECT_EQ(RunTool("hostsim", {"log"}).out, "[INFO] hello\n");
  const auto refused = RunTool("hostsim", {"world", "add", "13", "40"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "Error: No domain with id 40\n");
  EXPECT_EQ(RunTool("hostsim", {"world"}).status, 2);
}

}  // namespace
