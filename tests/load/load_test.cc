#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
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
const char kClosing[] = "There were some problems encountered in setting the policy";

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
    for (const char* tardisk : {"/tardisks/t1", "/tardisks/t2"}) {
      WriteFile(tardisk, "archive");
      HostSim::InitFileLabel(tardisk, false);
    }
    file_ = scratch_.Write("files/data", "");
    HostSim::InitFileLabel(file_, false);
    WriteFile(kPolicy + "/fileLabels/map", file_ + " systemFile\n");
  }
  std::string Load(const std::string& dir = kPolicy) {
    std::string thrown;
    err_ = Capture([&] {
      try {
        SecPolicy::LoadPolicy(dir);
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

std::ptrdiff_t Position(const Strings& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) - lines.begin();
}

TEST_F(LoadTest, FullLoadRunsThePhasesInOrderAndSucceedsOnce) {
  EXPECT_EQ(Load(), "");
  EXPECT_EQ(err_, "");

  const Strings log = KernelLogTexts();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "Using policy dir " + kPolicy);
  EXPECT_EQ(log.back(), "System security policy has been set successfully");
  EXPECT_EQ(std::count(log.begin(), log.end(), log.back()), 1);
  const Strings phases{"Objects defined and obsolete objects removed", "Domain policies set",
                       "Set all the tardisk labels and policy",
                       "Set all file labels"};
  for (std::size_t i = 1; i < phases.size(); ++i) {
    EXPECT_LT(Position(log, phases[i - 1]), Position(log, phases[i])) << phases[i];
  }
  EXPECT_LT(Position(log, phases.back()), static_cast<std::ptrdiff_t>(log.size()));

  EXPECT_EQ(SecPolicy::GetGlobalVMDomain(), Id("globalVMDom"));
  EXPECT_EQ(SecPolicy::GetIOFilterDomain(), Id("ioFilterDom"));
  EXPECT_EQ(SecPolicy::GetDefaultTardiskDomain(), Id("appDom"));
  EXPECT_EQ(SecPolicy::GetDaemonFrameworkDomain(), Id("daemonFrameworkDom"));
  const Strings journal = HostSim::Journal();
  const std::string app = std::to_string(Id("appDom"));
  for (const std::string& line :
       {"SetGlobalVMDomain " + std::to_string(Id("globalVMDom")) + " globalVMDom",
        "SetIoFilterDomain " + std::to_string(Id("ioFilterDom")) + " ioFilterDom",
        "SetDaemonFrameworkDomain " + std::to_string(Id("daemonFrameworkDom")) +
            " daemonFrameworkDom",
        "SetDomTransRule " + std::to_string(Id("superDom")) + " superDom tardiskDefault appDom " +
            app + " exec grant"}) {
    EXPECT_THAT(journal, Contains(line));
  }
  // The default tardisk domain needs no passage into itself.
  EXPECT_THAT(journal, Not(Contains(HasSubstr("SetDomTransRule " + app + " appDom"))));
  EXPECT_EQ(Label("/tardisks/t1"), "tardiskDefault");
  EXPECT_EQ(Label(file_), "systemFile");
}

struct PhaseFailure {
  const char* name;
  std::function<void(const std::string& scratch)> breakIt;
  std::string reported;  // part of standard error
};

class LoadPhaseFailureTest : public LoadTest, public ::testing::WithParamInterface<PhaseFailure> {};

TEST_P(LoadPhaseFailureTest, LaterPhasesStillRun) {
  GetParam().breakIt(scratch_.str());
  EXPECT_EQ(Load(), kClosing);
  EXPECT_THAT(err_, HasSubstr(GetParam().reported));
  EXPECT_THAT(KernelLogTexts(), Not(Contains("System security policy has been set successfully")));
  EXPECT_THAT(HostSim::Journal(), Contains(HasSubstr("SetDaemonFrameworkDomain ")));
  EXPECT_EQ(Label("/tardisks/t2"), "tardiskDefault");
  EXPECT_EQ(Label(file_), "systemFile");
}

INSTANTIATE_TEST_SUITE_P(
    Phases, LoadPhaseFailureTest,
    ::testing::Values(
        PhaseFailure{"objects", [](const std::string&) { fs::remove_all(kPolicy + "/objects"); },
                     "Error: Unable to open policy directory " + kPolicy + "/objects\n"},
        PhaseFailure{"template",
                     [](const std::string&) {
                       HostSim::SetIntegerOption("/UserVars/CheckAccessTemplateEnabled", 1);
                       HostSim::Fault fault;
                       fault.operation = "CreateDomain";
                       fault.message = "no template today";
                       fault.match = "checkAccessTemplateDom";
                       HostSim::AddFault(fault);
                     },
                     "no template today"},
        PhaseFailure{"domains",
                     [](const std::string&) { WriteFile(kPolicy + "/domains/superDom", "-z x\n"); },
                     "Error: Failure in domain policy\n"},
        PhaseFailure{"plugins",
                     [](const std::string&) {
                       WriteFile(kPolicy + "/domains/plugins/bad", "-z x\n");
                     },
                     "Error: Failure in domain policy\n"},
        PhaseFailure{"tardisks",
                     [](const std::string&) {
                       WriteFile(kPolicy + "/tardisks/t1", "-E systemBinary noDom\n");
                       HostSim::MapTardisk(kPolicy + "/tardisks/t1", "t1");
                     },
                     "Error: Failure in setting tardisk policy\n"},
        PhaseFailure{"fileLabels",
                     [](const std::string& scratch) {
                       std::ofstream(kPolicy + "/fileLabels/map", std::ios::app)
                           << scratch << "/missing systemFile\n";
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

TEST_F(LoadTest, EarlyLoadTakesOnlyDomainsFromItsDirectoryAndStopsAtAFailure) {
  const std::string early = scratch_.MakeDir("early");
  std::string err = Capture([&] { SecPolicy::LoadPolicyEarly(early); }).err;
  EXPECT_EQ(err, "Error: Unable to open policy directory " + early + "/domains\n");
  EXPECT_NE(iface_.LookupLabel("appLabel", HYXACCESS_LABEL_OBJECT), 1u);
  EXPECT_EQ(Label(file_), "unlabeled");

  WriteFile(early + "/domains/earlyDom", "");
  err = Capture([&] { SecPolicy::LoadPolicyEarly(early); }).err;
  EXPECT_EQ(err, "");
  EXPECT_NE(Id("earlyDom"), 0u);
  EXPECT_EQ(Id("superDom"), 0u);
  EXPECT_EQ(Label(file_), "systemFile");
}

}  // namespace
