// The display of the kernel's domains.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <tuple>

#include "domains/domain_display.h"
#include "domains/domain_policy.h"
#include "platform/host_ctl_exception.h"
#include "tests/domains/domain_fixture.h"

namespace DomainTests {
namespace {

using Texts = std::vector<std::string>;
const char kHeading[] = "\n\n------------------------\nPolicy set in the kernel\n------------------------\n";

struct Info {
  std::string name, level;
  std::uint32_t state, refCount, worldRefCount;
  HyxAccessQsi_DefaultDom defaultDom;
};

// A kernel whose slots and domain bookkeeping the test chooses; rules are
// the simulated library's.
class SlotsIface : public HyxCtl::Security::HyxAccessInterfaceImpl {
 public:
  std::uint32_t GetMaxDomains() override { return slots; }
  bool GetCompleteDomainInfo(std::uint32_t id, std::string& name, std::string& level,
                             std::uint32_t& state, std::uint32_t& refCount,
                             std::uint32_t& worldRefCount,
                             HyxAccessQsi_DefaultDom& defaultDom) override {
    asked.push_back(id);
    if (id == failing) throw HostCtl::Lib::HostCtlException("slot unreadable");
    const auto found = domains.find(id);
    if (found == domains.end()) return false;
    const Info& info = found->second;
    std::tie(name, level, state, refCount, worldRefCount, defaultDom) =
        std::tie(info.name, info.level, info.state, info.refCount, info.worldRefCount,
                 info.defaultDom);
    return true;
  }
  std::uint32_t slots = 0;
  std::map<std::uint32_t, Info> domains;
  std::vector<std::uint32_t> asked;
  std::optional<std::uint32_t> failing;
};

class DisplayTest : public DomainTest {
 protected:
  TestSupport::Output Display(const std::string& domain) {
    return TestSupport::Capture([&] { SecPolicy::DisplayPolicyDomains(kernel_, domain); });
  }
  SlotsIface kernel_;
};

TEST_F(DisplayTest, NoSlotsPrintsTheHeadingOnly) {
  EXPECT_EQ(kHeading, Display("").out);
}

TEST_F(DisplayTest, DomainBlockIsFramedByTheLongerLine) {
  SecPolicy::DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{1, "-c kill revoke"}});
  policy.ProcessParsedPolicyFile(iface(), lines);
  policy.SetPolicy(iface());
  kernel_.slots = appId_ + 2;
  const std::string level(60, 'L');
  kernel_.domains[appId_] = {"appDom", level, 1, 22, 333, HYXACCESS_QSI_DEFDOM_APP};

  const std::string title =
      "Domain Name: appDom Domain ID :" + std::to_string(appId_) + " Enforcement Level: " + level;
  const std::string subtitle = "State: 1 RefCount: 22 WorldRefCount: 333 defaultDom: 2";
  const std::string rule(title.size(), '-');
  EXPECT_EQ(kHeading + ("\n\n" + rule + "\n" + title + "\n" + subtitle + "\n" + rule + "\n") +
                "-c kill revoke\n\n\n\n",
            Display("").out);
}

TEST_F(DisplayTest, ShortTitleTakesTheSubtitleWidth) {
  kernel_.slots = 1;
  kernel_.domains[0] = {"d", "e", 4294967295u, 0, 0, HYXACCESS_QSI_DEFDOM_NONE};
  const std::string subtitle = "State: 4294967295 RefCount: 0 WorldRefCount: 0 defaultDom: 0";
  const std::string rule(subtitle.size(), '-');
  EXPECT_EQ(kHeading + ("\n\n" + rule + "\nDomain Name: d Domain ID :0 Enforcement Level: e\n" +
                        subtitle + "\n" + rule + "\n\n"),
            Display("").out);
}

TEST_F(DisplayTest, DomainArgumentIsAnIdNotAName) {
  struct Case {
    const char* argument;
    std::uint32_t id;
  };
  for (const Case& c : {Case{"7", 7}, Case{"appDom", 0}, Case{"12abc", 12}, Case{"-1", 0xFFFFFFFF}}) {
    kernel_.asked.clear();
    EXPECT_EQ(kHeading, Display(c.argument).out) << c.argument;
    EXPECT_EQ(std::vector<std::uint32_t>{c.id}, kernel_.asked) << c.argument;
  }
}

TEST_F(DisplayTest, UnreadableSlotIsReportedAndTheRestShown) {
  kernel_.slots = 3;
  kernel_.failing = 1;
  kernel_.domains[2] = {"last", "x", 0, 0, 0, HYXACCESS_QSI_DEFDOM_NONE};
  const auto output = Display("");
  EXPECT_EQ("Error: Failed to get policy for domain :slot unreadable\n", output.err);
  EXPECT_NE(std::string::npos, output.out.find("Domain Name: last Domain ID :2 "));
  EXPECT_EQ((std::vector<std::uint32_t>{0, 1, 2}), kernel_.asked);
}

}  // namespace
}  // namespace DomainTests
