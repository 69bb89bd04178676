// The grammar of every rule type: which failure a line reports when several
// are wrong, and how a good line prints back.
#include <gtest/gtest.h>

#include "domains/domain_policy.h"
#include "platform/host_ctl_exception.h"
#include "tests/domains/domain_fixture.h"

namespace DomainTests {
namespace {

using SecPolicy::DomainPolicy;

struct BadLine {
  const char* line;
  const char* cause;
};

class RuleGrammarTest : public DomainTest, public testing::WithParamInterface<BadLine> {};

// Each line is wrong in every way listed after the reported one.
const BadLine kBadLines[] = {
    {"-s read", "incorrect number of arguments for this rule type"},
    {"-s read grant now", "incorrect number of arguments for this rule type"},
    {"-s nosuch Grant", "invalid keyword Grant"},
    {"-s nosuch grant", "Unknown syscall keyword: nosuch"},
    {"-c kill", "incorrect number of arguments for this rule type"},
    {"-c nosuch grant ", "Unknown capability keyword: nosuch"},
    {"-c kill Grant", "invalid keyword Grant"},
    {"-p ioctl tty", "incorrect number of arguments for this rule type"},
    {"-p ioctl tty block net grant", "incorrect number of arguments for this rule type"},
    {"-p nosuch bogus maybe", "invalid keyword maybe"},
    {"-p nosuch bogus bogus grant", "Unknown parameter check keyword: nosuch"},
    {"-a tmpFile write", "incorrect number of arguments for this rule type"},
    {"-a noObject bogus maybe", "invalid keyword maybe"},
    {"-a noObject bogus grant", "Unknown object keyword: noObject"},
    {"-a tmpFile bogus grant", "Unknown object access keyword: bogus"},
    {"-u tmpFile create", "incorrect number of arguments for this rule type"},
    {"-u tmpFile create grant now", "incorrect number of arguments for this rule type"},
    {"-u noObject bogus revoke", "Unknown object keyword: noObject"},
    {"-u tmpFile bogus revoke", "Unknown unix socket keyword: bogus"},
    {"-d tmpFile appDom exec", "incorrect number of arguments for this rule type"},
    {"-d noObject ghostDom bogus maybe", "Failed to fetch domain id for: ghostDom"},
    {"-d noObject appDom bogus maybe", "invalid keyword maybe"},
    {"-d noObject appDom bogus grant", "Unknown object keyword: noObject"},
    {"-d tmpFile appDom bogus grant", "Unknown event keyword: bogus"},
    {"-f tmpFile tmpFile file", "incorrect number of arguments for this rule type"},
    {"-f tmpFile tmpFile file grant now", "incorrect number of arguments for this rule type"},
    {"-f noObject noObject bogus maybe", "invalid keyword maybe"},
    {"-f noObject noObject bogus grant", "Unknown object keyword: noObject"},
    {"-f tmpFile noObject bogus grant", "Unknown object keyword: noObject"},
    {"-f tmpFile tmpFile bogus grant", "Unknown file creation keyword: bogus"},
    {"-r", "incorrect number of arguments for this rule type"},
    {"-r /tmp rw x", "incorrect number of arguments for this rule type"},
    {"-R /tmp r", "invalid policy rule type (-R)"},
    {"-x anything", "invalid policy rule type (-x)"},
};

TEST_P(RuleGrammarTest, ReportsTheFirstFailureWithDomainAndLine) {
  DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{7, GetParam().line}});
  try {
    policy.ProcessParsedPolicyFile(iface(), lines);
    FAIL() << "accepted: " << GetParam().line;
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    EXPECT_EQ(std::string("Error in parsing policy for domain: appDom: 7 : ") + GetParam().cause,
              failure.what());
  }
  // A refused line adds nothing.
  const auto printed = TestSupport::Capture([&] { policy.PrintPolicy(); });
  EXPECT_EQ("\n", printed.out);
}

INSTANTIATE_TEST_SUITE_P(AllRuleTypes, RuleGrammarTest, testing::ValuesIn(kBadLines));

struct GoodLine {
  const char* line;
  const char* printed;  // as PrintRules writes it
};

class RuleRoundTripTest : public DomainTest, public testing::WithParamInterface<GoodLine> {};

const GoodLine kGoodLines[] = {
    {"-s read grant", "-s read grant"},
    {"-c kill revoke", "-c kill revoke"},
    {"-p ioctl tty grant", "-p ioctl tty grant"},
    {"-p socket inet stream revoke", "-p socket inet stream revoke"},
    // The last word is the action; the one before it is an argument.
    {"-p socket inet grant revoke", "-p socket inet grant revoke"},
    {"-a tmpFile write grant", "-a tmpFile write grant"},
    {"-u tmpFile bind revoke", "-u tmpFile bind revoke"},
    {"-d tmpFile appDom exec grant", "-d tmpFile appDom exec grant"},
    {"-f tmpFile logFile directory grant", "-f tmpFile logFile directory grant"},
    {"-r /tmp rw", "-r /tmp rw"},
    {"-r /tmp", "-r /tmp "},
    // Letters are judged when written, not when read.
    {"-r /tmp rr", "-r /tmp rr"},
};

TEST_P(RuleRoundTripTest, PrintsAsThePolicyLine) {
  DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{1, GetParam().line}});
  policy.ProcessParsedPolicyFile(iface(), lines);
  const auto printed = TestSupport::Capture([&] { policy.PrintPolicy(); });
  EXPECT_EQ(std::string(GetParam().printed) + "\n\n\n\n", printed.out);
}

INSTANTIATE_TEST_SUITE_P(AllRuleTypes, RuleRoundTripTest, testing::ValuesIn(kGoodLines));

TEST_F(DomainTest, TransitionTargetIdIsResolvedWhenParsed) {
  const auto vmId = iface().CreateDomain("vmDom", HYXACCESS_QSI_DEFDOM_NONE);
  Mark();
  DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{2, "-d tmpFile vmDom exec grant"}, {3, "-d tmpFile appDom exec revoke"}});
  policy.ProcessParsedPolicyFile(iface(), lines);
  policy.SetPolicy(iface());
  const std::string app = std::to_string(appId_) + " appDom ";
  EXPECT_EQ((std::vector<std::string>{
                "SetDomTransRule " + app + "tmpFile vmDom " + std::to_string(vmId) + " exec grant",
                "SetDomTransRule " + app + "tmpFile appDom " + std::to_string(appId_) +
                    " exec revoke"}),
            NewJournal());
}

}  // namespace
}  // namespace DomainTests
