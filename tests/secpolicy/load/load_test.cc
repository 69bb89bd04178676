// What a full load leaves behind for the rest of the host: the special
// domains' ids. The load's messages, phases and faults are policy corpus
// cases (tests/policies/load).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "hostsim/admin.h"
#include "secpolicy/load/policy_load.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/hyx_access.h"
#include "tests/support/sim_fixture.h"
#include "tests/secpolicy/tardisks/host_root.h"

namespace {

namespace fs = std::filesystem;

class LoadTest : public TestSupport::SimulatedHostTest {};

TEST_F(LoadTest, GettersNameTheSpecialDomainsAfterALoad) {
  REQUIRE_HOST_ROOT();
  const std::string policy = "/etc/norvane/secpolicy";
  fs::create_directories(policy + "/domains");
  for (const char* domain : {"globalVMDom", "ioFilterDom", "appDom", "daemonFrameworkDom", "superDom"}) {
    std::ofstream(policy + "/domains/" + domain);
  }
  fs::create_directories(policy + "/objects");
  std::ofstream(policy + "/objects/main") << "appLabel\n";
  const std::string file = scratch_.Write("data", "");
  HostSim::InitFileLabel(file, false);
  fs::create_directories(policy + "/fileLabels");
  std::ofstream(policy + "/fileLabels/map") << file << " appLabel\n";
  SecPolicy::LoadPolicy(policy);

  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  const auto id = [&](const char* domain) {
    std::uint32_t found = 0;
    iface.FindDomain(domain, &found);
    EXPECT_NE(found, 0u) << domain;
    return found;
  };
  EXPECT_EQ(SecPolicy::GetGlobalVMDomain(), id("globalVMDom"));
  EXPECT_EQ(SecPolicy::GetIOFilterDomain(), id("ioFilterDom"));
  EXPECT_EQ(SecPolicy::GetDefaultTardiskDomain(), id("appDom"));
  EXPECT_EQ(SecPolicy::GetDaemonFrameworkDomain(), id("daemonFrameworkDom"));
}

}  // namespace
