// The display of the kernel's domains.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "secpolicy/domains/domain_display.h"
#include "secpolicy/domains/domain_policy.h"
#include "tests/secpolicy/domains/domain_fixture.h"

namespace DomainTests {
namespace {

const std::string kHeading =
    "\n\n------------------------\nPolicy set in the kernel\n------------------------\n";

struct Info {
  std::string name, level;
  std::uint32_t state, refCount, worldRefCount;
  HyxAccessQsi_DefaultDom defaultDom;
};

// A kernel whose id slots and domain bookkeeping the test chooses; the rules
// are the simulated library's.
class SlotsIface : public HyxCtl::Security::HyxAccessInterfaceImpl {
 public:
  std::uint32_t GetMaxDomains() override { return slots; }
  bool GetCompleteDomainInfo(std::uint32_t id, std::string& name, std::string& level,
                             std::uint32_t& state, std::uint32_t& refCount,
                             std::uint32_t& worldRefCount,
                             HyxAccessQsi_DefaultDom& defaultDom) override {
    const auto found = domains.find(id);
    if (found == domains.end()) return false;
    const Info& info = found->second;
    std::tie(name, level, state, refCount, worldRefCount, defaultDom) = std::tie(
        info.name, info.level, info.state, info.refCount, info.worldRefCount, info.defaultDom);
    return true;
  }
  std::uint32_t slots = 0;
  std::map<std::uint32_t, Info> domains;
};

class DisplayTest : public DomainTest {
 protected:
  TestSupport::Output Display(const std::string& domain) {
    return TestSupport::Capture([&] { SecPolicy::DisplayPolicyDomains(kernel_, domain); });
  }
  static std::string Block(const std::string& title, const std::string& subtitle) {
    const std::string rule(std::max(title.size(), subtitle.size()), '-');
    return "\n\n" + rule + "\n" + title + "\n" + subtitle + "\n" + rule + "\n";
  }
  SlotsIface kernel_;
};

TEST_F(DisplayTest, EveryDomainIsFramedByItsLongerLineAndFreeSlotsSkipped) {
  SecPolicy::DomainPolicy policy("appDom", appId_);
  auto lines = Lines({{1, "-c kill revoke"}});
  policy.ProcessParsedPolicyFile(iface(), lines);
  policy.SetPolicy(iface());
  const std::string level(60, 'L');
  kernel_.slots = appId_ + 2;
  kernel_.domains[appId_] = {"appDom", level, 1, 22, 333, HYXACCESS_QSI_DEFDOM_APP};
  kernel_.domains[appId_ + 1] = {"d", "e", 4294967295u, 0, 0, HYXACCESS_QSI_DEFDOM_NONE};
  const std::string id = std::to_string(appId_);
  const std::string next = std::to_string(appId_ + 1);
  EXPECT_EQ(kHeading +
                Block("Domain Name: appDom Domain ID :" + id + " Enforcement Level: " + level,
                      "State: 1 RefCount: 22 WorldRefCount: 333 defaultDom: 2") +
                "-c kill revoke\n\n\n\n" +
                Block("Domain Name: d Domain ID :" + next + " Enforcement Level: e",
                      "State: 4294967295 RefCount: 0 WorldRefCount: 0 defaultDom: 0") +
                "\n",
            Display("").out);
}

// The id is converted as strtol does in base 10: no octal, the low 32 bits of
// a negative number, trailing text ignored.
TEST_F(DisplayTest, OneDomainByIdAsDecimalTextWrappedTo32Bits) {
  kernel_.slots = 12;
  kernel_.domains[8] = {"eight", "e", 0, 0, 0, HYXACCESS_QSI_DEFDOM_NONE};
  kernel_.domains[10] = {"ten", "e", 0, 0, 0, HYXACCESS_QSI_DEFDOM_NONE};
  const std::string ten = kHeading +
                          Block("Domain Name: ten Domain ID :10 Enforcement Level: e",
                                "State: 0 RefCount: 0 WorldRefCount: 0 defaultDom: 0") +
                          "\n";
  for (const char* id : {"010", "-4294967286", "10abc"}) EXPECT_EQ(ten, Display(id).out) << id;
}

}  // namespace
}  // namespace DomainTests
