// The grammar of every rule type: which failure a line reports when several
// are wrong, and that a good line prints back as written.
#include <gtest/gtest.h>

#include "secpolicy/domains/domain_policy.h"
#include "tests/secpolicy/domains/domain_fixture.h"

namespace DomainTests {
namespace {

struct Line {
  const char* text;
  const char* cause;  // null: accepted, and printed back as `text`
};

class RuleGrammarTest : public DomainTest, public testing::WithParamInterface<Line> {};

const char kArity[] = "incorrect number of arguments for this rule type";

// A bad line is also wrong in every way checked after the one reported.
const Line kLines[] = {
    {"-c kill grant now", kArity},
    {"-p ioctl tty", kArity},
    {"-p nosuch bogus maybe", "invalid keyword maybe"},
    {"-p socket inet grant revoke", nullptr},  // the last word is the action
    {"-a tmpFile write", kArity},
    {"-a noObject bogus maybe", "invalid keyword maybe"},
    {"-a tmpFile bogus grant", "Unknown object access keyword: bogus"},
    {"-u tmpFile create grant now", kArity},
    {"-u noObject bogus maybe", "invalid keyword maybe"},
    {"-u tmpFile bogus revoke", "Unknown unix socket keyword: bogus"},
    {"-d tmpFile appDom exec", kArity},
    {"-d noObject appDom bogus maybe", "invalid keyword maybe"},
    {"-d noObject appDom bogus grant", "Unknown object keyword: noObject"},
    {"-d tmpFile appDom bogus grant", "Unknown event keyword: bogus"},
    {"-f tmpFile tmpFile file grant now", kArity},
    {"-f noObject noObject bogus maybe", "invalid keyword maybe"},
    {"-f tmpFile noObject bogus grant", "Unknown object keyword: noObject"},
    {"-f tmpFile tmpFile bogus grant", "Unknown file creation keyword: bogus"},
    {"-r /tmp rr", nullptr},  // letters are judged when written
};

TEST_P(RuleGrammarTest, ReportsTheFirstFailureOrPrintsTheLineBack) {
  SecPolicy::DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{7, GetParam().text}});
  const std::string failure = Failure([&] { policy.ProcessParsedPolicyFile(iface(), lines); });
  const auto printed = TestSupport::Capture([&] { policy.PrintPolicy(); }).out;
  if (GetParam().cause == nullptr) {
    EXPECT_EQ("no failure", failure);
    EXPECT_EQ(std::string(GetParam().text) + "\n\n\n\n", printed);
  } else {
    EXPECT_EQ(std::string("Error in parsing policy for domain: appDom: 7 : ") + GetParam().cause,
              failure);
    EXPECT_EQ("\n", printed);  // nothing was added
  }
}

INSTANTIATE_TEST_SUITE_P(AllRuleTypes, RuleGrammarTest, testing::ValuesIn(kLines), [](const auto& c) {
  return std::to_string(c.index) + TestSupport::CaseName(c.param.text);
});

}  // namespace
}  // namespace DomainTests
