#include <gmock/gmock.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::RunTool;
using ::testing::HasSubstr;

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// A host root in the build tree (the host root covers /tmp): the four
// special domains, one launch domain, one object, one tardisk.
class LoadCliTest : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    const fs::path parent = fs::path(SECPOLICY_BIN_DIR).parent_path() / "test-host-roots";
    fs::create_directories(parent);
    std::string pattern = (parent / "cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    const fs::path policy = root_ / "etc/norvane/secpolicy";
    WriteFile(policy / "objects/main", "appLabel\n");
    for (const char* domain :
         {"globalVMDom", "ioFilterDom", "appDom", "daemonFrameworkDom", "superDom"}) {
      WriteFile(policy / "domains" / domain, "");
    }
    fs::create_directories(policy / "tardisks");
    fs::create_directories(policy / "fileLabels");
    WriteFile(root_ / "tardisks/t1", "archive");
    HostSim::InitFileLabel((root_ / "tardisks/t1").string(), false);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    SimulatedHostTest::TearDown();
  }
  TestSupport::ToolResult InRoot(const std::vector<std::string>& args) {
    std::vector<std::string> command{"run", "--root", root_.string(), "--",
                                     std::string(SECPOLICY_BIN_DIR) + "/secpolicy"};
    command.insert(command.end(), args.begin(), args.end());
    return RunTool("hostsim", command);
  }
  fs::path root_;
};

#define SKIP_WITHOUT_NAMESPACE(result)                                   \
  if ((result).err.find("private mount namespace") != std::string::npos) \
  GTEST_SKIP() << (result).err

TEST_F(LoadCliTest, LoadThenDisplay) {
  const auto load = InRoot({"load"});
  SKIP_WITHOUT_NAMESPACE(load);
  EXPECT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(load.err, "");
  EXPECT_EQ(TestSupport::KernelLogTexts().back(), "System security policy has been set successfully");

  const auto display = InRoot({"display"});
  EXPECT_EQ(display.status, 0) << display.err;
  EXPECT_THAT(display.out, HasSubstr("Domain Name: superDom Domain ID :"));
  EXPECT_THAT(display.out, HasSubstr("\nappLabel ("));
  EXPECT_THAT(display.out, HasSubstr("--\n/tardisks/t1 (tardiskDefault)\n"));
}

TEST_F(LoadCliTest, MissingSpecialDomainFailsTheCommand) {
  fs::remove(root_ / "etc/norvane/secpolicy/domains/appDom");
  const auto load = InRoot({"load"});
  SKIP_WITHOUT_NAMESPACE(load);
  EXPECT_EQ(load.status, 1);
  // Reported by the load, then by the tool as the command's failure.
  EXPECT_EQ(load.err,
            "Error: Failed to fetch domainID for default tar disk domain\n"
            "Error: Failed to fetch domainID for default tar disk domain\n");
}

}  // namespace
