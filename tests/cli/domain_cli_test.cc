// The domain commands of the secpolicy tool, run as a separate process.
#include <gtest/gtest.h>

#include <sstream>

#include "hostsim/admin.h"
#include "platform/hyx_access.h"
#include "tests/support/sim_fixture.h"

namespace {

using TestSupport::RunTool;
using Texts = std::vector<std::string>;

class DomainCliTest : public TestSupport::SimulatedHostTest {
 protected:
  std::uint32_t Id(const std::string& name) {
    HyxCtl::Security::HyxAccessInterfaceImpl iface;
    std::uint32_t id = 0;
    EXPECT_TRUE(iface.FindDomain(name, &id)) << name;
    return id;
  }
  // Journal lines that write a rule, as "operation domain-name".
  static Texts RuleWrites() {
    Texts writes;
    for (const auto& line : HostSim::Journal()) {
      if (line.rfind("Set", 0) != 0) continue;
      std::istringstream words(line);
      std::string operation, id, domain;
      words >> operation >> id >> domain;
      writes.push_back(operation + " " + domain);
    }
    return writes;
  }
};

TEST_F(DomainCliTest, LoadsFilesInNameOrderWithEveryPassReported) {
  scratch_.Write("domains/b", "-s read grant\n");
  scratch_.Write("domains/a", "-c kill grant\n");
  const auto result = RunTool("secpolicy", {"load-domains", scratch_.str() + "/domains"});
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ("", result.err);
  EXPECT_EQ((Texts{"SetCapabilityRule a", "SetSyscallRule b"}), RuleWrites());
  EXPECT_EQ((Texts{"Parsed all domain names", "Domain policies parsed and syntax validated",
                   "Constraints check for domain policies succeeded", "Domain policies set"}),
            TestSupport::KernelLogTexts());
}

TEST_F(DomainCliTest, BadLineIsReportedAndTheRestLoaded) {
  scratch_.Write("domains/bad", "-s read grant\n\n# comment\n-c kill grant\n-x foo\n-s open grant\n");
  scratch_.Write("domains/good", "-s write grant\n");
  const auto result = RunTool("secpolicy", {"load-domains", scratch_.str() + "/domains"});
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(
      "Error: Error in parsing policy for domain: bad: 5 : invalid policy rule type (-x)\n"
      "Error: Error in parsing the policy for some domains\n"
      "Error: Failure in domain policy\n",
      result.err);
  EXPECT_EQ((Texts{"SetCapabilityRule bad", "SetSyscallRule bad", "SetSyscallRule good"}),
            RuleWrites());
}

TEST_F(DomainCliTest, ExampleTreeLoadsAndDisplays) {
  const std::string tree = std::string(SECPOLICY_SOURCE_DIR) + "/examples/host/etc/norvane/secpolicy";
  const auto objects = RunTool("secpolicy", {"load-objects", tree + "/objects"});
  ASSERT_EQ(0, objects.status) << objects.err;
  const auto load = RunTool("secpolicy", {"load-domains", tree + "/domains"});
  EXPECT_EQ(0, load.status);
  EXPECT_EQ("", load.err);
  for (const char* name : {"superDom", "globalVMDom", "ioFilterDom", "appDom", "daemonFrameworkDom"}) {
    Id(name);
  }

  const auto display = RunTool("secpolicy", {"display-domains", std::to_string(Id("netd"))});
  EXPECT_EQ(0, display.status) << display.err;
  EXPECT_NE(std::string::npos, display.out.find("Domain Name: netd Domain ID :"));
  EXPECT_NE(std::string::npos, display.out.find("-p socket inet stream grant\n"));
  EXPECT_NE(std::string::npos, display.out.find("-u netdSocket create grant\n"));
}

}  // namespace
