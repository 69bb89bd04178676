#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "labels/file_labels.h"
#include "load/policy_load.h"
#include "load/special_domains.h"
#include "platform/host_ctl_exception.h"
#include "platform/hyx_access.h"
#include "tests/support/sim_fixture.h"
#include "tests/tardisks/host_root.h"

namespace {

namespace fs = std::filesystem;
using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;
using Strings = std::vector<std::string>;
using TestSupport::Capture;
using TestSupport::KernelLogTexts;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kPolicy = "/etc/norvane/secpolicy";

void WriteFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << text;
}

// A whole host: objects, the four special domains and a launch domain,
// two tardisks without policy files (the policy directory is empty), one
// file-label mapping.
class LoadTest : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    REQUIRE_HOST_ROOT();
    WriteFile(kPolicy + "/objects/main", "appLabel\n");
    for (const char* domain :
         {"globalVMDom", "ioFilterDom", "appDom", "daemonFrameworkDom", "superDom"}) {
      WriteFile(kPolicy + "/domains/" + domain, "# no rules\n");
    }
    fs::create_directories(kPolicy + "/tardisks");
    for (const char* tardisk : {"/tardisks/t1", "/tardisks/t2"}) WriteFile(tardisk, "archive");
    file_ = scratch_.Write("files/data", "");
    HostSim::InitFileLabel("/tardisks", true);
    HostSim::InitFileLabel(file_, false);
    WriteFile(kPolicy + "/fileLabels/map", file_ + " systemFile\n");
  }
  std::string Load() {
    std::string thrown;
    err_ = Capture([&] {
      try {
        SecPolicy::LoadPolicy(kPolicy);
      } catch (const HostCtlException& failure) {
        thrown = failure.what();
      }
    }).err;
    return thrown;
  }
  std::string Label(const std::string& path) { return SecPolicy::GetFileLabel(path, iface_); }
  std::uint32_t Id(const std::string& domain) {
    std::uint32_t id = 0;
    iface_.FindDomain(domain, &id);
    return id;
  }
  std::string file_;
  std::string err_;
  HyxAccessInterfaceImpl iface_;
};

TEST_F(LoadTest, FullLoadRunsThePhasesInOrderAndSucceedsOnce) {
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(err_, "");
  const Strings log = KernelLogTexts();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "Using policy dir " + kPolicy);
  EXPECT_EQ(log.back(), "System security policy has been set successfully");
  EXPECT_EQ(std::count(log.begin(), log.end(), log.back()), 1);
  // One line of each phase, in phase order.
  auto at = log.begin();
  for (const char* phase :
       {"Objects defined and obsolete objects removed", "Domain policies set",
        "Set all the tardisk labels and policy", "Set all file labels"}) {
    at = std::find(at, log.end(), std::string(phase));
    EXPECT_NE(at, log.end()) << phase;
  }
  EXPECT_EQ(SecPolicy::GetGlobalVMDomain(), Id("globalVMDom"));
  EXPECT_EQ(SecPolicy::GetIOFilterDomain(), Id("ioFilterDom"));
  EXPECT_EQ(SecPolicy::GetDefaultTardiskDomain(), Id("appDom"));
  EXPECT_EQ(SecPolicy::GetDaemonFrameworkDomain(), Id("daemonFrameworkDom"));
  const Strings journal = HostSim::Journal();
  const std::string app = std::to_string(Id("appDom"));
  for (const char* special : {"GlobalVMDomain", "IoFilterDomain", "DaemonFrameworkDomain"}) {
    EXPECT_THAT(journal, Contains(HasSubstr(std::string("Set") + special + " "))) << special;
  }
  EXPECT_THAT(journal, Contains("SetDomTransRule " + std::to_string(Id("superDom")) +
                                " superDom tardiskDefault appDom " + app + " exec grant"));
  // The default tardisk domain needs no passage into itself.
  EXPECT_THAT(journal, Not(Contains(HasSubstr("SetDomTransRule " + app + " appDom"))));
  EXPECT_EQ(Label("/tardisks/t1"), "tardiskDefault");
  EXPECT_EQ(Label(file_), "systemFile");
}

struct PhaseFailure {
  const char* name;
  void (*breakIt)(const std::string& scratch);
  std::string reported;  // part of standard error
};

class LoadPhaseFailureTest : public LoadTest, public ::testing::WithParamInterface<PhaseFailure> {};

TEST_P(LoadPhaseFailureTest, LaterPhasesStillRun) {
  GetParam().breakIt(scratch_.str());
  EXPECT_EQ(Load(), "There were some problems encountered in setting the policy");
  EXPECT_THAT(err_, HasSubstr(GetParam().reported));
  EXPECT_THAT(KernelLogTexts(), Not(Contains("System security policy has been set successfully")));
  EXPECT_THAT(HostSim::Journal(), Contains(HasSubstr("SetDaemonFrameworkDomain ")));
  EXPECT_EQ(Label("/tardisks/t2"), "tardiskDefault");
  EXPECT_EQ(Label(file_), "systemFile");
}

void FailTemplate(const std::string&) {
  HostSim::SetIntegerOption("/UserVars/CheckAccessTemplateEnabled", 1);
  HostSim::Fault fault;
  fault.operation = "CreateDomain";
  fault.message = "no template today";
  fault.match = "checkAccessTemplateDom";
  HostSim::AddFault(fault);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, LoadPhaseFailureTest,
    ::testing::Values(
        PhaseFailure{"objects", [](const std::string&) { fs::remove_all(kPolicy + "/objects"); },
                     "Error: Unable to open policy directory " + kPolicy + "/objects\n"},
        PhaseFailure{"template", FailTemplate, "no template today"},
        PhaseFailure{"domains", [](const std::string&) { WriteFile(kPolicy + "/domains/superDom", "-z x"); },
                     "Error: Failure in domain policy\n"},
        PhaseFailure{"plugins", [](const std::string&) { WriteFile(kPolicy + "/domains/plugins/p", "-z x"); },
                     "Error: Failure in domain policy\n"},
        PhaseFailure{"tardisks",
                     [](const std::string&) {
                       WriteFile(kPolicy + "/tardisks/t1", "-E systemBinary noDom\n");
                       HostSim::MapTardisk(kPolicy + "/tardisks/t1", "t1");
                     },
                     "Error: Failure in setting tardisk policy\n"},
        PhaseFailure{"fileLabels",
                     [](const std::string& scratch) {
                       std::ofstream(kPolicy + "/fileLabels/map", std::ios::app) << scratch << "/no systemFile";
                     },
                     "Error: Failure in file labels policy\n"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

class LoadSpecialDomainTest : public LoadTest,
                              public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(LoadSpecialDomainTest, MissingDomainEndsTheLoadAtOnce) {
  const auto& [domain, text] = GetParam();
  fs::remove(kPolicy + "/domains/" + domain);
  EXPECT_EQ(Load(), text);
  EXPECT_EQ(err_, "Error: " + std::string(text) + "\n");
  EXPECT_EQ(Label("/tardisks/t1"), "unlabeled");
  EXPECT_EQ(Label(file_), "unlabeled");
  EXPECT_THAT(KernelLogTexts(), Not(Contains("System security policy has been set successfully")));
}

INSTANTIATE_TEST_SUITE_P(
    Special, LoadSpecialDomainTest,
    ::testing::Values(
        std::pair{"globalVMDom", "Failed to fetch domainID for global VM Domain"},
        std::pair{"ioFilterDom", "Failed to fetch domainID for IOFilter domain"},
        std::pair{"appDom", "Failed to fetch domainID for default tar disk domain"},
        std::pair{"daemonFrameworkDom", "Failed to fetch domainID for daemon framework domain"}));

}  // namespace
