// One full load of a small complete host per row, with one operation of the
// control library or one kernel call made to fail: the messages in order,
// the closing result, which later phases still ran, and that what the kernel
// accepted before the fault is still journaled.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostsim/admin.h"
#include "labels/file_labels.h"
#include "load/policy_load.h"
#include "platform/host_ctl_exception.h"
#include "platform/hyx_access.h"
#include "tests/support/sim_fixture.h"
#include "tests/tardisks/host_root.h"

namespace {

namespace fs = std::filesystem;
using HostCtl::Lib::HostCtlException;
using Strings = std::vector<std::string>;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string kPolicy = "/etc/norvane/secpolicy";
const std::string kClosing = "There were some problems encountered in setting the policy";
const std::string kMap = kPolicy + "/fileLabels/map";
const std::string kP1 = kPolicy + "/tardisks/p1";

void WriteFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << text;
}

// superDom holds one rule of every type, on these lines; domain ids are
// 2 for the template domain, then appDom 3 ... superDom 7 in name order.
const char kSuperDom[] =
    "-a systemFile read grant\n"          // 1
    "-c chown grant\n"                    // 2
    "-d systemConfig appDom exec grant\n" // 3
    "-f systemFile tmpFile file grant\n"  // 4
    "-p ioctl tty grant\n"                // 5
    "-r / r\n"                            // 6
    "-s open grant\n"                     // 7
    "-u systemFile bind grant\n";         // 8

struct Row {
  const char* name;
  HostSim::Fault fault;
  Strings stderrLines;  // without the "Error: " prefix
  std::string thrown = kClosing;
  Strings present;  // journal lines (parts of) that must be there
  Strings absent;   // and must not
  std::string fileLabel = "logFile";
  std::string t2Label = "tardiskDefault";
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

HostSim::Fault Fail(const char* op, std::optional<std::string> match = std::nullopt,
                    std::optional<int> times = std::nullopt) {
  HostSim::Fault fault;
  fault.operation = op;
  fault.message = "boom";
  fault.match = std::move(match);
  fault.times = times;
  return fault;
}

class FaultTableTest : public TestSupport::SimulatedHostTest, public ::testing::WithParamInterface<Row> {
 protected:
  void SetUp() override {
    SimulatedHostTest::SetUp();
    REQUIRE_HOST_ROOT();
    WriteFile(kPolicy + "/objects/main", "appLabel\n");
    for (const char* domain : {"globalVMDom", "ioFilterDom", "appDom", "daemonFrameworkDom"}) {
      WriteFile(kPolicy + "/domains/" + domain, "");
    }
    WriteFile(kPolicy + "/domains/superDom", kSuperDom);
    WriteFile(kP1, "-E systemBinary superDom\n");
    for (const char* tardisk : {"/tardisks/t1", "/tardisks/t2"}) WriteFile(tardisk, "archive");
    HostSim::MapTardisk(kP1, "t1");
    file_ = scratch_.Write("files/data", "");
    HostSim::InitFileLabel("/tardisks", true);
    HostSim::InitFileLabel(file_, false);
    WriteFile(kMap, file_ + " logFile\n");
    HostSim::SetIntegerOption("/UserVars/CheckAccessTemplateEnabled", 1);
  }
  std::string file_;
};

TEST_P(FaultTableTest, LoadReportsTheFaultAndKeepsWhatWasAccepted) {
  const Row& row = GetParam();
  HostSim::AddFault(row.fault);
  std::string thrown;
  const std::string err = TestSupport::Capture([&] {
    try {
      SecPolicy::LoadPolicy(kPolicy);
    } catch (const HostCtlException& failure) {
      thrown = failure.what();
    }
  }).err;
  std::string expected;
  for (const auto& line : row.stderrLines) expected += "Error: " + line + "\n";
  EXPECT_EQ(err, expected);
  EXPECT_EQ(thrown, row.thrown);
  const Strings journal = HostSim::Journal();
  for (const auto& line : row.present) EXPECT_THAT(journal, Contains(HasSubstr(line)));
  for (const auto& line : row.absent) EXPECT_THAT(journal, Not(Contains(HasSubstr(line))));
  HyxCtl::Security::HyxAccessInterfaceImpl iface;
  EXPECT_EQ(SecPolicy::GetFileLabel(file_, iface), row.fileLabel);
  EXPECT_EQ(SecPolicy::GetFileLabel("/tardisks/t2", iface), row.t2Label);
}

const Strings kObjectFailure = {"Error in defining some objects", "Failure in object policy"};
const std::string kDom = "Error in parsing policy for domain: superDom: ";
const std::string kSet = "Error in setting policy for domain: superDom: ";
const Strings kSetTail = {"Error in setting the policy for some domains", "Failure in domain policy"};
const std::string kT1 = kP1 + ":1 : Tardisk: /tardisks/t1 : ";

Strings SetFailure(const std::string& line) {
  Strings lines{kSet + line + " : boom"};
  lines.insert(lines.end(), kSetTail.begin(), kSetTail.end());
  return lines;
}

// What the loss of superDom does to the tardisk step.
const Strings kNoSuperDom = {
    "Error in parsing policy for domain: " + kP1 + ": 1 : Failed to fetch domain id for superDom",
    "Error in parsing some tardisk policy files", "Failure in setting specified tardisk policy",
    "Failed to fetch domain id for superDom", "Failure in setting tardisk policy"};

Strings Join(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

HostSim::Fault KernelFault(const char* call) {
  HostSim::Fault fault;
  fault.operation = call;
  fault.errnum = EPERM;
  return fault;
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FaultTableTest,
    ::testing::Values(
        // Objects: every failure of the reconciliation is one summary; later phases run.
        Row{"GetKeywordsMap", Fail("GetKeywordsMap"), kObjectFailure, kClosing, {"SetDaemonFrameworkDomain"}, {"AddLabels"}},
        Row{"GetInvalidLabels", Fail("GetInvalidLabels"), kObjectFailure, kClosing, {"SetSyscallRule 7"}, {"AddLabels"}},
        Row{"RemoveLabels", Fail("RemoveLabels"), kObjectFailure, kClosing, {"SetSyscallRule 7"}, {"AddLabels"}},
        Row{"AddLabels", Fail("AddLabels", std::nullopt, 1), kObjectFailure, kClosing, {"RemoveLabels 1"}, {"AddLabels"}},
        Row{"IsPredefinedLabel", Fail("IsPredefinedLabel"), kObjectFailure, kClosing, {"RemoveLabels 1", "AddLabels 1"}, {"AddLabels 1 appLabel"}},
        // The template domain.
        Row{"FindOption", Fail("FindOption"), {"boom"}, kClosing, {"CreateDomain 2 appDom"}, {"checkAccessTemplateDom"}},
        Row{"FindDomainTemplate", Fail("FindDomain", "checkAccessTemplateDom"), {"boom"}, kClosing, {"CreateDomain 2 appDom"}, {"checkAccessTemplateDom"}},
        Row{"CreateDomainTemplate", Fail("CreateDomain", "checkAccessTemplateDom"), {"boom"}, kClosing, {"CreateDomain 2 appDom"}, {"checkAccessTemplateDom"}},
        Row{"SetFilePathAccessRules", Fail("SetFilePathAccessRules"), {"boom"}, kClosing, {"CreateDomain 2 checkAccessTemplateDom 3", "SetSyscallRule 7"}, {"SetFilePathAccessRules"}},
        // Domains: creation and lookup end the phase; the tardisk step then misses superDom.
        Row{"CreateDomain", Fail("CreateDomain", "superDom"), Join({"boom"}, kNoSuperDom), kClosing, {"CreateDomain 6 ioFilterDom", "SetDaemonFrameworkDomain"}, {"superDom"}, "logFile", "unlabeled"},
        Row{"FindDomain", Fail("FindDomain", "superDom", 1), Join({"boom"}, kNoSuperDom), kClosing, {"CreateDomain 6 ioFilterDom", "SetDaemonFrameworkDomain"}, {"superDom"}, "logFile", "unlabeled"},
        Row{"ValidateKeyword", Fail("ValidateKeyword", "open"), {kDom + "7 : boom", "Error in parsing the policy for some domains", "Failure in domain policy"}, kClosing, {"SetCapabilityRule 7 superDom chown grant", "AddFilePolicyBatch 0 7"}, {"SetSyscallRule"}},
        Row{"CheckCapabilityParamRuleConstraints", Fail("CheckCapabilityParamRuleConstraints", "superDom"),
            Join({"Policy constraint error for domain: superDom : boom", "Error in policy constraints check for some domains",
                  "Skipping the policy for domain superDom due to errors in the policy"}, kSetTail),
            kClosing, {"systemBinary superDom 7 exec"}, {"SetSyscallRule 7", "SetObjectAccessRule"}},
        Row{"SetObjectAccessRule", Fail("SetObjectAccessRule"), SetFailure("1"), kClosing, {"SetDaemonFrameworkDomain"}, {"SetCapabilityRule"}},
        Row{"SetCapabilityRule", Fail("SetCapabilityRule"), SetFailure("2"), kClosing, {"SetObjectAccessRule 7"}, {"SetCapabilityRule", "SetFileCreationRule"}},
        Row{"SetDomTransRule", Fail("SetDomTransRule", "systemConfig"), SetFailure("3"), kClosing, {"SetCapabilityRule 7", "systemBinary superDom 7 exec"}, {"SetFileCreationRule"}},
        Row{"SetFileCreationRule", Fail("SetFileCreationRule"), SetFailure("4"), kClosing, {"SetDomTransRule 7 superDom systemConfig"}, {"SetCapabilityParamRule"}},
        Row{"SetCapabilityParamRule", Fail("SetCapabilityParamRule"), SetFailure("5"), kClosing, {"SetFileCreationRule 7"}, {"SetCapabilityParamRule", "SetFilePathAccessRules 7"}},
        Row{"AddFilePolicyBatch", KernelFault("AddFilePolicyBatch"),
            Join({kSet + "6 : Failed to add file policies to domain :7: world ID :0:Operation not permitted"}, kSetTail), kClosing,
            {"SetCapabilityParamRule 7"}, {"SetSyscallRule 7"}},
        Row{"SetSyscallRule", Fail("SetSyscallRule", "superDom"), SetFailure("7"), kClosing, {"AddFilePolicyBatch 0 7"}, {"SetSyscallRule 7", "SetUnixSockCreationRule"}},
        Row{"SetUnixSockCreationRule", Fail("SetUnixSockCreationRule"), SetFailure("8"), kClosing, {"SetSyscallRule 7"}, {"SetUnixSockCreationRule"}},
        // Special domains: a library failure passes out at once, unreported.
        Row{"FindDomainSpecial", Fail("FindDomain", "globalVMDom"), {"boom"}, "boom", {"CreateDomain 3 appDom"}, {"SetGlobalVMDomain", "globalVMDom"}, "unlabeled", "unlabeled"},
        Row{"SetGlobalVMDomain", Fail("SetGlobalVMDomain"), {}, "boom", {"SetSyscallRule 7"}, {"SetIoFilterDomain", "SetGlobalVMDomain"}, "unlabeled", "unlabeled"},
        Row{"SetIoFilterDomain", Fail("SetIoFilterDomain"), {}, "boom", {"SetGlobalVMDomain"}, {"SetIoFilterDomain", "SetDaemonFrameworkDomain"}, "unlabeled", "unlabeled"},
        Row{"SetDaemonFrameworkDomain", Fail("SetDaemonFrameworkDomain"), {}, "boom", {"SetIoFilterDomain"}, {"SetDaemonFrameworkDomain"}, "unlabeled", "unlabeled"},
        // Tardisks.
        Row{"Sysinfo", Fail("Sysinfo"), {"boom"}, kClosing, {"SetDaemonFrameworkDomain"}, {"tardiskDefault", "systemBinary superDom"}, "logFile", "unlabeled"},
        Row{"GetTardiskLaunchDomains", Fail("GetTardiskLaunchDomains"),
            {"boom", "Error in setting some tardisk labels and policy", "Failure in setting specified tardisk policy", "boom", "Failure in setting tardisk policy"},
            kClosing, {"SetDaemonFrameworkDomain"}, {"systemBinary superDom", "tardiskDefault"}, "logFile", "unlabeled"},
        Row{"GetTardiskExecEventKeyword", Fail("GetTardiskExecEventKeyword"),
            {kT1 + "boom", "Error in setting some tardisk labels and policy", "Failure in setting specified tardisk policy", "boom", "Failure in setting tardisk policy"},
            kClosing, {"SetDaemonFrameworkDomain"}, {"systemBinary superDom", "tardiskDefault"}, "logFile", "unlabeled"},
        Row{"GetDefaultTardiskLabel", Fail("GetDefaultTardiskLabel"), {"boom", "Failure in setting tardisk policy"}, kClosing,
            {"systemBinary superDom 7 exec"}, {"tardiskDefault"}, "logFile", "unlabeled"},
        Row{"GetDefaultTardiskDomain", Fail("GetDefaultTardiskDomain"), {"boom", "Failure in setting tardisk policy"}, kClosing,
            {"systemBinary superDom 7 exec"}, {"tardiskDefault"}, "logFile", "unlabeled"},
        Row{"SetDomTransRuleTardisk", Fail("SetDomTransRule", "systemBinary"),
            {kT1 + "boom", "Error in setting some tardisk labels and policy", "Failure in setting specified tardisk policy", "Failure in setting tardisk policy"},
            kClosing, {"tardiskDefault appDom"}, {"systemBinary superDom"}},
        Row{"SetDomTransRuleDefault", Fail("SetDomTransRule", "tardiskDefault"),
            {"Failed to set default tardisk rule: ", "boom", "Failed to set default tardisk rule: ", "boom",
             "Failure in setting default tardisk policy", "Failure in setting tardisk policy"},
            kClosing, {"systemBinary superDom 7 exec"}, {"tardiskDefault appDom"}},
        Row{"LookupLabelTardisk", Fail("LookupLabel", "systemBinary"),
            {kT1 + "boom", "Error in setting some tardisk labels and policy", "Failure in setting specified tardisk policy", "Failure in setting tardisk policy"},
            kClosing, {"tardiskDefault appDom"}, {"systemBinary superDom"}},
        Row{"LookupLabelDefault", Fail("LookupLabel", "tardiskDefault"),
            {"Failed to set default tardisk label: ", "boom", "Failure in setting default tardisk policy", "Failure in setting tardisk policy"},
            kClosing, {"tardiskDefault appDom"}, {}, "logFile", "unlabeled"},
        // File labels.
        Row{"ValidateKeywordLabel", Fail("ValidateKeyword", "logFile"),
            {"Error parsing file " + kMap, "boom", "Error in parsing some file label mappings.", "Failure in file labels policy"},
            kClosing, {"tardiskDefault appDom"}, {}, "unlabeled"},
        Row{"LookupLabelFile", Fail("LookupLabel", "logFile"),
            {kMap + ":1 : boom", "There was a failure in setting file labels", "Error in setting some file labels.", "Failure in file labels policy"},
            kClosing, {"tardiskDefault appDom"}, {}, "unlabeled"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
