#include <dirent.h>

#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "secpolicy/tardisks/tardisk_discovery.h"
#include "tests/support/sim_fixture.h"
#include "tests/secpolicy/tardisks/host_root.h"

namespace {

using Strings = std::vector<std::string>;
const std::string kPolicyDir = "/etc/norvane/secpolicy/tardisks";

class TardiskTest : public TestSupport::SimulatedHostTest {};

// Of two policy files backed by one tardisk, the first the directory yields
// wins, whatever the names' order.
TEST_F(TardiskTest, FirstPolicyFileInDirectoryOrderClaimsItsTardisk) {
  REQUIRE_HOST_ROOT();
  for (const char* name : {"t1", "t2"}) std::ofstream(std::string("/tardisks/") + name) << name;
  std::filesystem::create_directories(kPolicyDir);
  for (const char* name : {"pB", "pA"}) {
    std::ofstream(kPolicyDir + "/" + name) << "";
    HostSim::MapTardisk(kPolicyDir + "/" + name, "t1");
  }
  Strings order;
  DIR* handle = opendir(kPolicyDir.c_str());
  while (const dirent* entry = readdir(handle)) {
    if (entry->d_name[0] != '.') order.push_back(kPolicyDir + "/" + entry->d_name);
  }
  closedir(handle);

  SecPolicy::TardiskPolicyList policies;
  std::list<std::string> defaults;
  const auto output = TestSupport::Capture(
      [&] { SecPolicy::GetTardiskLists(kPolicyDir, policies.policies, defaults); });
  ASSERT_EQ(policies.policies.size(), 1u);
  EXPECT_EQ(policies.policies.front()->path, order.at(0));
  EXPECT_EQ(defaults, std::list<std::string>{"/tardisks/t2"});
  EXPECT_EQ(output.err, "Error: More than one exception specification for tardisk /tardisks/t1\nError: Ignoring " +
                            order.at(1) + "\n");
}

}  // namespace
