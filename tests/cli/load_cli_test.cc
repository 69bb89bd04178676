#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "hostsim/admin.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Loads and displays a minimal host under `hostsim run`: the four special
// domains, a launch domain, one object, one tardisk.
class LoadCliTest : public TestSupport::SimulatedHostTest {};

TEST_F(LoadCliTest, LoadThenDisplayUnderAHostRoot) {
  const fs::path root = scratch_.path() / "root";
  const fs::path policy = root / "etc/norvane/secpolicy";
  for (const char* dir : {"objects", "domains", "tardisks", "fileLabels"}) {
    fs::create_directories(policy / dir);
  }
  std::ofstream(policy / "objects/main") << "appLabel\n";
  for (const char* domain : {"globalVMDom", "ioFilterDom", "appDom", "daemonFrameworkDom", "superDom"}) {
    std::ofstream(policy / "domains" / domain) << "";
  }
  fs::create_directories(root / "tardisks");
  std::ofstream(root / "tardisks/t1") << "archive";
  HostSim::InitFileLabel((root / "tardisks/t1").string(), false);
  auto inRoot = [&](const std::string& command) {
    return TestSupport::RunTool(
        "hostsim", {"run", "--root", root.string(), "--", SECPOLICY_BIN_DIR "/secpolicy", command});
  };

  const auto load = inRoot("load");
  if (load.err.find("private mount namespace") != std::string::npos) GTEST_SKIP() << load.err;
  EXPECT_EQ(load.status, 0) << load.err;
  EXPECT_EQ(TestSupport::KernelLogTexts().back(), "System security policy has been set successfully");
  const auto display = inRoot("display");
  EXPECT_EQ(display.status, 0) << display.err;
  EXPECT_THAT(display.out, HasSubstr("Domain Name: superDom Domain ID :"));
  EXPECT_THAT(display.out, HasSubstr("\nappLabel ("));
  EXPECT_THAT(display.out, HasSubstr("--\n/tardisks/t1 (tardiskDefault)\n"));
}

}  // namespace
