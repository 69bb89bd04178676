// One domain's policy: keyword order of the writes, partial writes, the
// constraint check, and reading the kernel's rules back.
#include <gtest/gtest.h>

#include "domains/domain_policy.h"
#include "platform/host_ctl_exception.h"
#include "tests/domains/domain_fixture.h"

namespace DomainTests {
namespace {

using SecPolicy::DomainPolicy;

std::string Failure(const std::function<void()>& body) {
  try {
    body();
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    return failure.what();
  }
  return "no failure";
}

// One line of every type, in the reverse of the keyword order.
const std::vector<std::pair<unsigned int, std::string>> kEveryType = {
    {1, "-u tmpFile connect grant"}, {2, "-s read grant"},
    {3, "-r /no/such rw"},           {4, "-p ioctl tty revoke"},
    {5, "-f tmpFile tmpFile file grant"}, {6, "-d tmpFile appDom exec grant"},
    {7, "-c kill revoke"},           {9, "-a tmpFile read grant"},
};

TEST_F(DomainTest, WritesSetsInKeywordOrderNotLineOrder) {
  DomainPolicy policy("appDom", appId_);
  auto lines = Lines(kEveryType);
  policy.ProcessParsedPolicyFile(iface(), lines);
  policy.CheckPolicyConstraints(iface());
  policy.SetPolicy(iface());
  EXPECT_EQ((std::vector<std::string>{"SetObjectAccessRule", "SetCapabilityRule",
                                      "SetDomTransRule", "SetFileCreationRule",
                                      "SetCapabilityParamRule", "AddFilePolicyBatch",
                                      "SetSyscallRule", "SetUnixSockCreationRule"}),
            Operations(NewJournal()));
}

TEST_F(DomainTest, RefusedRuleStopsTheWriteAndKeepsEarlierRules) {
  AddFault("SetSyscallRule", "simulated failure", "write", 1);
  DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{1, "-u tmpFile bind grant"},
                      {2, "-s read grant"},
                      {3, "-s write grant"},
                      {4, "-s open grant"},
                      {5, "-a tmpFile read grant"}});
  policy.ProcessParsedPolicyFile(iface(), lines);
  EXPECT_EQ("Error in setting policy for domain: appDom: 3 : simulated failure",
            Failure([&] { policy.SetPolicy(iface()); }));
  const std::string app = std::to_string(appId_) + " appDom ";
  EXPECT_EQ((std::vector<std::string>{"SetObjectAccessRule " + app + "tmpFile read grant",
                                      "SetSyscallRule " + app + "read grant"}),
            NewJournal());
}

TEST_F(DomainTest, BadLineKeepsTheRulesBeforeItAndReadsNoFurther) {
  DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{3, "-s read grant"}, {5, "-x read grant"}, {6, "-s write grant"}});
  EXPECT_EQ("Error in parsing policy for domain: appDom: 5 : invalid policy rule type (-x)",
            Failure([&] { policy.ProcessParsedPolicyFile(iface(), lines); }));
  policy.SetPolicy(iface());
  EXPECT_EQ(std::vector<std::string>{"SetSyscallRule " + std::to_string(appId_) +
                                     " appDom read grant"},
            NewJournal());
}

TEST_F(DomainTest, DomainWithErrorsWritesNothing) {
  DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{1, "-s read grant"}});
  policy.ProcessParsedPolicyFile(iface(), lines);
  policy.hasErrors = true;
  EXPECT_EQ("Skipping the policy for domain appDom due to errors in the policy",
            Failure([&] { policy.SetPolicy(iface()); }));
  EXPECT_TRUE(NewJournal().empty());
}

TEST_F(DomainTest, ParamArgumentsAreJudgedByTheConstraintCheck) {
  DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{1, "-p ioctl tty grant"}, {2, "-p ioctl floppy grant"}});
  policy.ProcessParsedPolicyFile(iface(), lines);
  EXPECT_EQ(
      "Policy constraint error for domain: appDom : Parameter check ioctl does not take the "
      "argument floppy",
      Failure([&] { policy.CheckPolicyConstraints(iface()); }));
}

TEST_F(DomainTest, ConstraintCheckConsultsTheLibraryWithoutParamRules) {
  AddFault("CheckCapabilityParamRuleConstraints", "busy");
  DomainPolicy policy("appDom", appId_);
  EXPECT_EQ("Policy constraint error for domain: appDom : busy",
            Failure([&] { policy.CheckPolicyConstraints(iface()); }));
}

TEST_F(DomainTest, ParsePolicyNeedsAReadableFile) {
  DomainPolicy policy("appDom", appId_);
  EXPECT_EQ("Policy file path has not been set for domain appDom",
            Failure([&] { policy.ParsePolicy(iface()); }));
  policy.policyFilePath = scratch_.str() + "/missing";
  EXPECT_EQ("Unable to open policy file " + policy.policyFilePath,
            Failure([&] { policy.ParsePolicy(iface()); }));
}

TEST_F(DomainTest, ReadsBackAndPrintsInKeywordOrder) {
  DomainPolicy written("appDom", appId_);
  auto lines = Lines(kEveryType);
  written.ProcessParsedPolicyFile(iface(), lines);
  written.SetPolicy(iface());

  DomainPolicy read("appDom", appId_);
  const auto output = TestSupport::Capture([&] {
    read.ReadSystemPolicy(iface());
    read.PrintPolicy();
  });
  EXPECT_EQ(
      "-a tmpFile read grant\n\n\n"
      "-c kill revoke\n\n\n"
      "-d tmpFile appDom exec grant\n\n\n"
      "-f tmpFile tmpFile file grant\n\n\n"
      "-p ioctl tty revoke\n\n\n"
      "-r /no/such rw\n\n\n"
      "-s read grant\n\n\n"
      "-u tmpFile connect grant\n\n\n"
      "\n",
      output.out);
}

TEST_F(DomainTest, UnreadableSetIsReportedAndTheOthersPrinted) {
  DomainPolicy written("appDom", appId_);
  auto lines = Lines({{1, "-s read grant"}, {2, "-c kill grant"}});
  written.ProcessParsedPolicyFile(iface(), lines);
  written.SetPolicy(iface());
  AddFault("GetCapabilityRules", "cannot read");

  DomainPolicy read("appDom", appId_);
  const auto output = TestSupport::Capture([&] {
    read.ReadSystemPolicy(iface());
    read.PrintPolicy();
  });
  EXPECT_EQ("Error: cannot read\n", output.err);
  EXPECT_EQ("-s read grant\n\n\n\n", output.out);
}

}  // namespace
}  // namespace DomainTests
