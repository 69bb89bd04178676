#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <list>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "labels/file_labels.h"
#include "platform/host_ctl_exception.h"
#include "platform/hyx_access.h"
#include "tardisks/default_tardisk_policy.h"
#include "tardisks/tardisk_discovery.h"
#include "tardisks/tardisk_exception_rules.h"
#include "tests/support/sim_fixture.h"
#include "tests/tardisks/host_root.h"

namespace {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;
using Strings = std::vector<std::string>;
using TestSupport::Capture;

const std::string kPolicyDir = "/etc/norvane/secpolicy/tardisks";

// Names of a directory in the order the file system yields them.
Strings DirOrder(const std::string& dir) {
  Strings names;
  DIR* handle = opendir(dir.c_str());
  while (const dirent* entry = handle ? readdir(handle) : nullptr) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (handle) closedir(handle);
  return names;
}

class TardiskTest : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    REQUIRE_HOST_ROOT();
    for (const char* name : {"superDom", "daemonFrameworkDom", "appDom", "myDom"}) {
      iface_.CreateDomain(name, HYXACCESS_QSI_DEFDOM_NONE);
    }
  }
  std::string Tardisk(const std::string& name, bool initLabel = true) {
    const std::string path = "/tardisks/" + name;
    std::ofstream(path) << name;
    if (initLabel) HostSim::InitFileLabel(path, false);
    return path;
  }
  // A policy file; mapped to `tardisk` unless that is empty.
  std::string Policy(const std::string& name, const std::string& text, const std::string& tardisk) {
    std::filesystem::create_directories(kPolicyDir);
    const std::string path = kPolicyDir + "/" + name;
    std::ofstream(path) << text;
    if (!tardisk.empty()) HostSim::MapTardisk(path, tardisk);
    return path;
  }
  std::string Label(const std::string& path) { return SecPolicy::GetFileLabel(path, iface_); }
  std::uint32_t Id(const std::string& domain) {
    std::uint32_t id = 0;
    iface_.FindDomain(domain, &id);
    return id;
  }
  Strings Transitions() {
    Strings lines;
    for (const auto& line : HostSim::Journal()) {
      if (line.rfind("SetDomTransRule ", 0) == 0) lines.push_back(line);
    }
    return lines;
  }
  HyxAccessInterfaceImpl iface_;
};

TEST_F(TardiskTest, ListsRegularFilesAndReportsTheRest) {
  Tardisk("a");
  Tardisk("b");
  std::filesystem::create_directory("/tardisks/c");
  std::list<std::string> tardisks;
  const auto output = Capture([&] { SecPolicy::GetAllTardisks(tardisks); });
  std::list<std::string> expected;
  for (const auto& name : DirOrder("/tardisks")) {
    if (name != "c") expected.push_back("/tardisks/" + name);
  }
  EXPECT_EQ(tardisks, expected);
  EXPECT_EQ(output.err, "Error: Skipping directory c\n");
}

TEST_F(TardiskTest, FirstPolicyFileInDirectoryOrderClaimsItsTardisk) {
  Tardisk("t1");
  Tardisk("t2");
  Tardisk("t3");
  const std::string pA = Policy("pA", "", "t1");
  const std::string pB = Policy("pB", "", "t1");
  const std::string none = Policy("none", "", "");
  const std::string ghost = Policy("ghost", "", "missing");
  const Strings order = DirOrder(kPolicyDir);
  const bool aFirst = std::find(order.begin(), order.end(), "pA") <
                      std::find(order.begin(), order.end(), "pB");
  const std::string winner = aFirst ? pA : pB;
  const std::string loser = aFirst ? pB : pA;

  SecPolicy::TardiskPolicyList policies;
  std::list<std::string> defaults;
  const auto output =
      Capture([&] { SecPolicy::GetTardiskLists(kPolicyDir, policies.policies, defaults); });

  Strings accepted;
  for (const auto* policy : policies.policies) accepted.push_back(policy->path);
  std::sort(accepted.begin(), accepted.end());
  EXPECT_EQ(accepted, (Strings{ghost, winner}));
  std::list<std::string> expectedDefaults;
  for (const auto& name : DirOrder("/tardisks")) {
    if (name != "t1") expectedDefaults.push_back("/tardisks/" + name);
  }
  EXPECT_EQ(defaults, expectedDefaults);
  EXPECT_NE(output.err.find("Error: No backing tardisk for policy file " + none + "\n"),
            std::string::npos);
  EXPECT_NE(output.err.find("Error: More than one exception specification for tardisk "
                            "/tardisks/t1\nError: Ignoring " + loser + "\n"),
            std::string::npos);
}

TEST_F(TardiskTest, MissingPolicyDirectoryLeavesBothListsEmpty) {
  Tardisk("t1");
  SecPolicy::TardiskPolicyList policies;
  std::list<std::string> defaults;
  SecPolicy::GetTardiskLists(kPolicyDir, policies.policies, defaults);
  EXPECT_TRUE(policies.policies.empty());
  EXPECT_TRUE(defaults.empty());
  EXPECT_EQ(TestSupport::KernelLogTexts(),
            Strings{"Skipping tardisk policy as " + kPolicyDir + " does not exist"});
}

struct RuleCase {
  std::string label;
  std::string domain;
  Strings launchDomains;  // those that get a transition
};

class TardiskRuleTest : public TardiskTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(TardiskRuleTest, LabelsTheTardiskAndWritesTransitions) {
  const RuleCase& c = GetParam();
  const std::string tardisk = Tardisk("t1");
  SecPolicy::TardiskPolicy policy(Policy("p", "# mine\n-E " + c.label + " " + c.domain + "\n", "t1"));
  SecPolicy::ParseAndSetTardiskPolicy({&policy}, iface_);

  EXPECT_EQ(Label(tardisk), c.label);
  Strings expected;
  for (const auto& launch : c.launchDomains) {
    expected.push_back("SetDomTransRule " + std::to_string(Id(launch)) + " " + launch + " " +
                       c.label + " " + c.domain + " " + std::to_string(Id(c.domain)) +
                       " exec grant");
  }
  EXPECT_EQ(Transitions(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TardiskRuleTest,
    ::testing::Values(RuleCase{"systemBinary", "myDom", {"superDom", "daemonFrameworkDom", "appDom"}},
                      // A launch domain equal to the target needs no passage.
                      RuleCase{"systemBinary", "superDom", {"daemonFrameworkDom", "appDom"}},
                      RuleCase{"unlabeled", "myDom", {}}));

struct BadPolicyCase {
  std::string text;
  std::string errors;  // standard error; P stands for the policy file
  std::string label;   // on the tardisk afterwards
};

class TardiskBadPolicyTest : public TardiskTest,
                             public ::testing::WithParamInterface<BadPolicyCase> {};

TEST_P(TardiskBadPolicyTest, ReportsAndStillAppliesWhatParsed) {
  const BadPolicyCase& c = GetParam();
  const std::string tardisk = Tardisk("t1");
  const std::string path = Policy("p", c.text, "t1");
  SecPolicy::TardiskPolicy policy(path);
  std::string thrown;
  const auto output = Capture([&] {
    try {
      SecPolicy::ParseAndSetTardiskPolicy({&policy}, iface_);
    } catch (const HostCtlException& failure) {
      thrown = failure.what();
    }
  });
  std::string errors = c.errors;
  for (std::size_t at; (at = errors.find("P:")) != std::string::npos;) errors.replace(at, 1, path);
  EXPECT_EQ(output.err, errors);
  EXPECT_EQ(thrown, "Failure in setting specified tardisk policy");
  EXPECT_EQ(Label(tardisk), c.label);
}

const std::string kParseFailed = "Error: Error in parsing some tardisk policy files\n";
const std::string kParsePrefix = "Error: Error in parsing policy for domain: P: ";

INSTANTIATE_TEST_SUITE_P(
    Failures, TardiskBadPolicyTest,
    ::testing::Values(
        BadPolicyCase{"-e systemBinary myDom\n",
                      kParsePrefix + "1 : invalid tardisk policy rule type (-e)\n" + kParseFailed,
                      "unlabeled"},
        BadPolicyCase{"\n-E systemBinary\n",
                      kParsePrefix + "2 : incorrect number of arguments for this rule type\n" +
                          kParseFailed,
                      "unlabeled"},
        BadPolicyCase{"-E systemBinary noDom\n",
                      kParsePrefix + "1 : Failed to fetch domain id for noDom\n" + kParseFailed,
                      "unlabeled"},
        BadPolicyCase{"-E systemBinary myDom\n-E logFile myDom\n",
                      "Error: Only one rule of this type is allowed\n" + kParseFailed,
                      "systemBinary"},
        BadPolicyCase{"-E noLabel myDom\n",
                      "Error: P:1 : Tardisk: /tardisks/t1 : Invalid label (noLabel) for file "
                      "/tardisks/t1\nError: Error in setting some tardisk labels and policy\n",
                      "unlabeled"}));

// Records, in order, every transition written and every label looked up
// (each label write starts with a lookup).
class RecordingInterface : public HyxAccessInterfaceImpl {
 public:
  bool SetDomTransRule(HyxAccess_DomTransRule rule) override {
    calls.push_back("rule " + rule.domainName);
    return HyxAccessInterfaceImpl::SetDomTransRule(rule);
  }
  std::uint32_t LookupLabel(const std::string& name, HyxAccessLabelType type) override {
    calls.push_back("label " + name);
    return HyxAccessInterfaceImpl::LookupLabel(name, type);
  }
  Strings calls;
};

TEST_F(TardiskTest, DefaultPolicyWritesEveryRuleBeforeAnyLabel) {
  std::list<std::string> tardisks{Tardisk("t1"), Tardisk("t2")};
  RecordingInterface recording;
  SecPolicy::SetDefaultTardiskPolicy(tardisks, recording);
  EXPECT_EQ(recording.calls, (Strings{"rule superDom", "rule daemonFrameworkDom", "rule appDom",
                                      "label tardiskDefault", "label tardiskDefault"}));
  EXPECT_EQ(Label("/tardisks/t2"), "tardiskDefault");
}

TEST_F(TardiskTest, UnknownLaunchDomainStopsBeforeAnyLabel) {
  HostSim::Init();  // no domains
  iface_.CreateDomain("superDom", HYXACCESS_QSI_DEFDOM_NONE);
  std::list<std::string> tardisks{Tardisk("t1")};
  RecordingInterface recording;
  std::string thrown;
  try {
    SecPolicy::SetDefaultTardiskPolicy(tardisks, recording);
  } catch (const HostCtlException& failure) {
    thrown = failure.what();
  }
  EXPECT_EQ(thrown, "Failed to fetch domain id for daemonFrameworkDom");
  EXPECT_EQ(recording.calls, Strings{"rule superDom"});
  EXPECT_EQ(Label("/tardisks/t1"), "unlabeled");
}

TEST_F(TardiskTest, FailedPolicyDoesNotKeepDefaultsFromOtherTardisks) {
  const std::string claimed = Tardisk("t1");
  const std::string other = Tardisk("t2");
  Policy("p", "-E systemBinary noDom\n", "t1");
  std::string thrown;
  const auto output = Capture([&] {
    try {
      SecPolicy::LoadPolicyTardisks(kPolicyDir, iface_);
    } catch (const HostCtlException& failure) {
      thrown = failure.what();
    }
  });
  EXPECT_EQ(thrown, "Failure in setting tardisk policy");
  EXPECT_NE(output.err.find("Error: Failure in setting specified tardisk policy\n"),
            std::string::npos);
  EXPECT_EQ(Label(other), "tardiskDefault");
  EXPECT_EQ(Label(claimed), "unlabeled");
}

TEST_F(TardiskTest, DisplayLeavesTheLineOfAnUnreadableLabelOpen) {
  Tardisk("t1");
  Tardisk("t2", false);
  SecPolicy::SetFileLabel("/tardisks/t1", "systemBinary", iface_);
  const auto output = Capture([&] { SecPolicy::DisplayPolicyTardiskLabels(iface_); });
  const std::string rule(20, '-');
  std::string expected = "\n\n" + rule + "\nTardisk Path (label)\n" + rule + "\n";
  for (const auto& name : DirOrder("/tardisks")) {
    expected += "/tardisks/" + name + " (" + (name == "t1" ? "systemBinary)\n" : "");
  }
  EXPECT_EQ(output.out, expected);
  EXPECT_EQ(output.err,
            "Error: Error in reading tardisk label: (/tardisks/t2): Unable to get file label for "
            "file /tardisks/t2:No data available\n");
}

}  // namespace
