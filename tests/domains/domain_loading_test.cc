// Loading a directory of domain policy files in three passes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "domains/domain_loading.h"
#include "tests/domains/domain_fixture.h"
#include "tests/tardisks/host_root.h"

namespace DomainTests {
namespace {

using TestSupport::KernelLogTexts;

class DomainLoadingTest : public DomainTest {
 protected:
  std::string Load(const std::string& dir) {
    return Failure([&] { SecPolicy::LoadPolicyDomains(dir, iface()); });
  }
  std::string Dir() const { return scratch_.str() + "/domains"; }
  std::string Id(const std::string& name) {
    std::uint32_t id = 0;
    EXPECT_TRUE(iface().FindDomain(name, &id)) << name;
    return std::to_string(id);
  }
};

TEST_F(DomainLoadingTest, AllDomainsExistBeforeParsingAndExistingOnesAreReused) {
  scratch_.Write("domains/b", "-s read grant\n");
  scratch_.Write("domains/appDom", "-d tmpFile b exec grant\n");
  EXPECT_EQ("no failure", Load(Dir()));
  EXPECT_EQ((Texts{"CreateDomain " + Id("b") + " b 0",
                   "SetDomTransRule " + app_ + "tmpFile b " + Id("b") + " exec grant",
                   "SetSyscallRule " + Id("b") + " b read grant"}),
            NewJournal());
}

TEST_F(DomainLoadingTest, BadLineFailsItsDomainAfterItsEarlierLinesAreWritten) {
  scratch_.Write("domains/a", "-s read grant\n");
  scratch_.Write("domains/b", "-s open grant\n# two\n-c kill grant\n-R /tmp r\n-s close grant\n");
  scratch_.Write("domains/c", "-p ioctl floppy grant\n");
  const auto err = TestSupport::Capture([&] { EXPECT_EQ("Failure in domain policy", Load(Dir())); }).err;
  const Texts reports = {
      "Error in parsing policy for domain: b: 4 : invalid policy rule type (-R)",
      "Error in parsing the policy for some domains",
      "Policy constraint error for domain: c : Parameter check ioctl does not take the argument "
      "floppy",
      "Error in policy constraints check for some domains",
      "Skipping the policy for domain c due to errors in the policy",
      "Error in setting the policy for some domains"};
  const Texts log = KernelLogTexts();
  EXPECT_EQ(reports, Texts(log.begin() + 1, log.end()));
  std::string expectedErr;
  for (const auto& text : reports) expectedErr += "Error: " + text + "\n";
  EXPECT_EQ(expectedErr, err);
  EXPECT_EQ((Texts{"CreateDomain", "CreateDomain", "CreateDomain", "SetSyscallRule",
                   "SetCapabilityRule", "SetSyscallRule"}),
            Operations(NewJournal()));
}

TEST_F(DomainLoadingTest, UncreatableDomainEndsTheLoadBeforeParsing) {
  scratch_.Write("domains/a", "-s read grant\n");
  scratch_.Write("domains/b", "-s read grant\n");
  AddFault("CreateDomain", "no room", "b");
  EXPECT_EQ("no room", Load(Dir()));
  EXPECT_TRUE(KernelLogTexts().empty());
  EXPECT_EQ(Texts{"CreateDomain"}, Operations(NewJournal()));
}

TEST_F(DomainLoadingTest, PluginDomainsArePrefixedOnlyOnTheExactPath) {
  REQUIRE_HOST_ROOT();
  SecPolicy::LoadPartnerPolicyDomains(iface());
  EXPECT_TRUE(KernelLogTexts().empty());

  const std::string plugins = "/etc/norvane/secpolicy/domains/plugins";
  std::filesystem::create_directories(plugins);
  std::ofstream(plugins + "/foo") << "-s read grant\n";
  SecPolicy::LoadPartnerPolicyDomains(iface());
  std::uint32_t id = 0;
  EXPECT_TRUE(iface().FindDomain("plugin-foo", &id));
  EXPECT_FALSE(iface().FindDomain("foo", &id));
  EXPECT_EQ("no failure", Load(plugins + "/"));
  EXPECT_TRUE(iface().FindDomain("foo", &id));
}

}  // namespace
}  // namespace DomainTests
