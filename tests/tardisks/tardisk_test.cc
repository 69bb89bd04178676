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
#include "tardisks/default_tardisk_policy.h"
#include "tardisks/tardisk_discovery.h"
#include "tardisks/tardisk_exception_rules.h"
#include "tests/support/sim_fixture.h"
#include "tests/tardisks/host_root.h"

namespace {

using HyxCtl::Security::HyxAccessInterfaceImpl;
using Strings = std::vector<std::string>;
const std::string kPolicyDir = "/etc/norvane/secpolicy/tardisks";

// Names of a directory in the order the file system yields them.
Strings DirOrder(const std::string& dir) {
  Strings names;
  DIR* handle = opendir(dir.c_str());
  while (const dirent* entry = readdir(handle)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  closedir(handle);
  return names;
}

// Records every transition written and every label looked up (each label
// write starts with a lookup), in order.
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

class TardiskTest : public TestSupport::SimulatedHostTest {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    REQUIRE_HOST_ROOT();
    for (const char* name : {"superDom", "daemonFrameworkDom", "appDom", "myDom"}) {
      iface_.CreateDomain(name, HYXACCESS_QSI_DEFDOM_NONE);
    }
    for (const char* name : {"t1", "t2"}) std::ofstream(std::string("/tardisks/") + name) << name;
    HostSim::InitFileLabel("/tardisks", true);
    std::filesystem::create_directories(kPolicyDir);
  }
  // A policy file, mapped to `tardisk` unless that is empty.
  std::string Policy(const std::string& name, const std::string& text, const std::string& tardisk) {
    std::ofstream(kPolicyDir + "/" + name) << text;
    if (!tardisk.empty()) HostSim::MapTardisk(kPolicyDir + "/" + name, tardisk);
    return kPolicyDir + "/" + name;
  }
  std::string Label(const std::string& path) { return SecPolicy::GetFileLabel(path, iface_); }
  std::string Id(const std::string& domain) {
    std::uint32_t id = 0;
    iface_.FindDomain(domain, &id);
    return std::to_string(id);
  }
  RecordingInterface iface_;
};

TEST_F(TardiskTest, FirstPolicyFileInDirectoryOrderClaimsItsTardisk) {
  std::filesystem::create_directory("/tardisks/sub");
  for (const char* name : {"pA", "pB"}) Policy(name, "", "t1");
  const std::string none = Policy("none", "", "");
  const std::string ghost = Policy("ghost", "", "missing");
  Strings order = DirOrder(kPolicyDir);
  std::erase_if(order, [](const std::string& n) { return n != "pA" && n != "pB"; });

  SecPolicy::TardiskPolicyList policies;
  std::list<std::string> defaults;
  const auto output = TestSupport::Capture(
      [&] { SecPolicy::GetTardiskLists(kPolicyDir, policies.policies, defaults); });
  Strings accepted;
  for (const auto* policy : policies.policies) accepted.push_back(policy->path);
  std::sort(accepted.begin(), accepted.end());
  EXPECT_EQ(accepted, (Strings{ghost, kPolicyDir + "/" + order[0]}));
  EXPECT_EQ(defaults, std::list<std::string>{"/tardisks/t2"});
  for (const std::string& message : Strings
       {"Error: Skipping directory sub\n", "Error: No backing tardisk for policy file " + none + "\n",
        "Error: More than one exception specification for tardisk /tardisks/t1\nError: Ignoring " +
            kPolicyDir + "/" + order[1] + "\n"}) {
    EXPECT_NE(output.err.find(message), std::string::npos) << message;
  }
}

struct RuleCase {
  std::string text;
  std::string errors;  // standard error; P: stands for the policy file
  std::string label;   // on the tardisk afterwards
  Strings launches;    // launch domains given a transition into myDom
};

class TardiskRuleTest : public TardiskTest, public ::testing::WithParamInterface<RuleCase> {};

TEST_P(TardiskRuleTest, ParsesAndApplies) {
  const RuleCase& c = GetParam();
  const std::string path = Policy("p", c.text, "t1");
  SecPolicy::TardiskPolicy policy(path);
  std::string thrown;
  const auto output = TestSupport::Capture([&] {
    try {
      SecPolicy::ParseAndSetTardiskPolicy({&policy}, iface_);
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      thrown = failure.what();
    }
  });
  std::string errors = c.errors;
  for (std::size_t at; (at = errors.find("P:")) != std::string::npos;) errors.replace(at, 1, path);
  EXPECT_EQ(output.err, errors);
  EXPECT_EQ(thrown, errors.empty() ? "" : "Failure in setting specified tardisk policy");
  EXPECT_EQ(Label("/tardisks/t1"), c.label);
  Strings expected, written;
  for (const auto& launch : c.launches) {
    expected.push_back("SetDomTransRule " + Id(launch) + " " + launch + " " + c.label + " myDom " +
                       Id("myDom") + " exec grant");
  }
  for (const auto& line : HostSim::Journal()) {
    if (line.rfind("SetDomTransRule", 0) == 0) written.push_back(line);
  }
  EXPECT_EQ(written, expected);
}

const std::string kParseError = "Error: Error in parsing policy for domain: P: ";
const std::string kParseFailed = "Error: Error in parsing some tardisk policy files\n";
INSTANTIATE_TEST_SUITE_P(
    Rules, TardiskRuleTest,
    ::testing::Values(
        RuleCase{"# own\n-E systemBinary myDom\n", "", "systemBinary",
                 {"superDom", "daemonFrameworkDom", "appDom"}},
        RuleCase{"-E unlabeled myDom\n", "", "unlabeled", {}},
        RuleCase{"-E systemBinary noDom\n",
                 kParseError + "1 : Failed to fetch domain id for noDom\n" + kParseFailed, "unlabeled", {}},
        RuleCase{"-E logFile myDom\n-E systemBinary myDom\n",
                 "Error: Only one rule of this type is allowed\n" + kParseFailed, "logFile",
                 {"superDom", "daemonFrameworkDom", "appDom"}}));

TEST_F(TardiskTest, LaunchDomainEqualToTheRuleDomainGetsNoTransition) {
  SecPolicy::TardiskPolicy policy(Policy("p", "-E systemBinary superDom\n", "t1"));
  SecPolicy::ParseAndSetTardiskPolicy({&policy}, iface_);
  EXPECT_EQ(iface_.calls, (Strings{"label systemBinary", "rule daemonFrameworkDom", "rule appDom"}));
}

TEST_F(TardiskTest, DefaultPolicyWritesEveryRuleBeforeAnyLabelAndStopsAtAnUnknownLaunchDomain) {
  std::list<std::string> tardisks{"/tardisks/t1", "/tardisks/t2"};
  SecPolicy::SetDefaultTardiskPolicy(tardisks, iface_);
  EXPECT_EQ(iface_.calls, (Strings{"rule superDom", "rule daemonFrameworkDom", "rule appDom",
                                   "label tardiskDefault", "label tardiskDefault"}));

  HostSim::Init();  // no domains: the first launch domain is unknown
  HostSim::InitFileLabel("/tardisks", true);
  iface_.calls.clear();
  EXPECT_THROW(SecPolicy::SetDefaultTardiskPolicy(tardisks, iface_), HostCtl::Lib::HostCtlException);
  EXPECT_EQ(iface_.calls, Strings{});
  EXPECT_EQ(Label("/tardisks/t1"), "unlabeled");
}

}  // namespace
