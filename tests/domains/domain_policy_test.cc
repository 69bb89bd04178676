// One domain's policy: keyword order of the writes, partial writes, the
// constraint check, and reading the kernel's rules back.
#include <gtest/gtest.h>

#include "domains/domain_policy.h"
#include "tests/domains/domain_fixture.h"

namespace DomainTests {
namespace {

using SecPolicy::DomainPolicy;

class DomainPolicyTest : public DomainTest {
 protected:
  // A policy for appDom holding the given lines.
  std::unique_ptr<DomainPolicy> Parsed(const std::vector<std::pair<unsigned, std::string>>& lines) {
    auto policy = std::make_unique<DomainPolicy>("appDom", appId_);
    auto parsed = Lines(lines);
    policy->ProcessParsedPolicyFile(iface(), parsed);
    return policy;
  }
};

// One line of every type, in the reverse of the keyword order.
const std::vector<std::pair<unsigned, std::string>> kEveryType = {
    {1, "-u tmpFile connect grant"}, {2, "-s read grant"}, {3, "-r /no/such rw"},
    {4, "-p ioctl tty revoke"}, {5, "-f tmpFile tmpFile file grant"},
    {6, "-d tmpFile vmDom exec grant"}, {7, "-c kill revoke"}, {9, "-a tmpFile read grant"}};

TEST_F(DomainPolicyTest, WritesSetsInKeywordOrderWithTargetsResolvedAtParse) {
  const auto vmId = std::to_string(iface().CreateDomain("vmDom", HYXACCESS_QSI_DEFDOM_NONE));
  Mark();
  auto policy = Parsed(kEveryType);
  policy->CheckPolicyConstraints(iface());
  policy->SetPolicy(iface());
  EXPECT_EQ((Texts{"SetObjectAccessRule " + app_ + "tmpFile read grant",
                   "SetCapabilityRule " + app_ + "kill revoke",
                   "SetDomTransRule " + app_ + "tmpFile vmDom " + vmId + " exec grant",
                   "SetFileCreationRule " + app_ + "tmpFile tmpFile file grant",
                   "SetCapabilityParamRule " + app_ + "ioctl tty revoke",
                   "AddFilePolicyBatch 0 " + std::to_string(appId_) + " 1 /no/such 0x3",
                   "SetSyscallRule " + app_ + "read grant",
                   "SetUnixSockCreationRule " + app_ + "tmpFile connect grant"}),
            NewJournal());
}

TEST_F(DomainPolicyTest, RefusedRuleEndsTheWriteAndEarlierRulesStay) {
  AddFault("SetSyscallRule", "full", "write");
  auto policy = Parsed({{1, "-u tmpFile bind grant"}, {2, "-s read grant"},
                        {3, "-s write grant"}, {4, "-s open grant"}, {5, "-a tmpFile read grant"}});
  EXPECT_EQ("Error in setting policy for domain: appDom: 3 : full",
            Failure([&] { policy->SetPolicy(iface()); }));
  EXPECT_EQ((Texts{"SetObjectAccessRule " + app_ + "tmpFile read grant",
                   "SetSyscallRule " + app_ + "read grant"}),
            NewJournal());
}

TEST_F(DomainPolicyTest, ConstraintCheckAsksTheLibraryEvenWithoutParamRules) {
  AddFault("CheckCapabilityParamRuleConstraints", "busy");
  EXPECT_EQ("Policy constraint error for domain: appDom : busy",
            Failure([&] { Parsed({})->CheckPolicyConstraints(iface()); }));
}

TEST_F(DomainPolicyTest, ReadsBackInKeywordOrderAndReportsUnreadableSets) {
  iface().CreateDomain("vmDom", HYXACCESS_QSI_DEFDOM_NONE);
  Parsed(kEveryType)->SetPolicy(iface());
  AddFault("GetCapabilityRules", "cannot read");
  DomainPolicy read("appDom", appId_);
  const auto output = TestSupport::Capture([&] {
    read.ReadSystemPolicy(iface());
    read.PrintPolicy();
  });
  EXPECT_EQ("Error: cannot read\n", output.err);
  EXPECT_EQ(
      "-a tmpFile read grant\n\n\n"
      "-d tmpFile vmDom exec grant\n\n\n"
      "-f tmpFile tmpFile file grant\n\n\n"
      "-p ioctl tty revoke\n\n\n"
      "-r /no/such rw\n\n\n"
      "-s read grant\n\n\n"
      "-u tmpFile connect grant\n\n\n"
      "\n",
      output.out);
}

}  // namespace
}  // namespace DomainTests
