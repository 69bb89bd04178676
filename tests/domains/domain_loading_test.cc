// Loading a directory of domain policy files in three passes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "domains/domain_loading.h"
#include "platform/host_ctl_exception.h"
#include "tests/domains/domain_fixture.h"
#include "tests/tardisks/host_root.h"

namespace DomainTests {
namespace {

using SecPolicy::LoadPolicyDomains;
using TestSupport::KernelLogTexts;
using Texts = std::vector<std::string>;

class DomainLoadingTest : public DomainTest {
 protected:
  // Loads the scratch folder "domains"; returns the failure text, if any.
  std::string Load(const std::string& dir) {
    try {
      LoadPolicyDomains(dir, iface());
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      return failure.what();
    }
    return "";
  }
  std::string Dir() const { return scratch_.str() + "/domains"; }
  std::uint32_t Id(const std::string& name) {
    std::uint32_t id = 0;
    EXPECT_TRUE(iface().FindDomain(name, &id)) << name;
    return id;
  }
};

TEST_F(DomainLoadingTest, EmptyDirectoryReportsEveryPassInOrder) {
  scratch_.MakeDir("domains");
  EXPECT_EQ("", Load(Dir()));
  EXPECT_EQ((Texts{"Parsed all domain names", "Domain policies parsed and syntax validated",
                   "Constraints check for domain policies succeeded", "Domain policies set"}),
            KernelLogTexts());
}

TEST_F(DomainLoadingTest, DomainsGoInFileOrderAndMayNameLaterOnes) {
  scratch_.Write("domains/b", "-s read grant\n");
  scratch_.Write("domains/a", "-d tmpFile b exec grant\n");
  EXPECT_EQ("", Load(Dir()));
  const std::string a = std::to_string(Id("a"));
  const std::string b = std::to_string(Id("b"));
  EXPECT_EQ((Texts{"CreateDomain " + a + " a 0", "CreateDomain " + b + " b 0",
                   "SetDomTransRule " + a + " a tmpFile b " + b + " exec grant",
                   "SetSyscallRule " + b + " b read grant"}),
            NewJournal());
}

TEST_F(DomainLoadingTest, ExistingDomainIsReused) {
  scratch_.Write("domains/appDom", "-s read grant\n");
  EXPECT_EQ("", Load(Dir()));
  EXPECT_EQ(Texts{"SetSyscallRule " + std::to_string(appId_) + " appDom read grant"},
            NewJournal());
}

TEST_F(DomainLoadingTest, BadLineFailsOnlyItsDomainAfterWritingEarlierLines) {
  scratch_.Write("domains/a", "-s read grant\n");
  scratch_.Write("domains/b", "-s open grant\n# two\n-c kill grant\n-R /tmp r\n-s close grant\n");
  scratch_.Write("domains/c", "-s write grant\n");
  const auto output = TestSupport::Capture([&] { EXPECT_EQ("Failure in domain policy", Load(Dir())); });
  const std::string parseError =
      "Error in parsing policy for domain: b: 4 : invalid policy rule type (-R)";
  EXPECT_EQ((Texts{"Parsed all domain names", parseError,
                   "Error in parsing the policy for some domains",
                   "Constraints check for domain policies succeeded", "Domain policies set"}),
            KernelLogTexts());
  EXPECT_EQ("Error: " + parseError + "\nError: Error in parsing the policy for some domains\n",
            output.err);
  // Lines 1 and 3 of b reach the kernel; line 5 is never read.
  const auto journal = NewJournal();
  EXPECT_EQ((Texts{"CreateDomain", "CreateDomain", "CreateDomain", "SetSyscallRule",
                   "SetCapabilityRule", "SetSyscallRule", "SetSyscallRule"}),
            Operations(journal));
  EXPECT_EQ("SetSyscallRule " + std::to_string(Id("b")) + " b open grant", journal.at(5));
}

TEST_F(DomainLoadingTest, ConstraintFailureKeepsTheDomainOutOfTheKernel) {
  scratch_.Write("domains/a", "-s read grant\n-p ioctl floppy grant\n");
  scratch_.Write("domains/b", "-s read grant\n");
  TestSupport::Capture([&] { EXPECT_EQ("Failure in domain policy", Load(Dir())); });
  EXPECT_EQ((Texts{"Parsed all domain names", "Domain policies parsed and syntax validated",
                   "Policy constraint error for domain: a : Parameter check ioctl does not take "
                   "the argument floppy",
                   "Error in policy constraints check for some domains",
                   "Skipping the policy for domain a due to errors in the policy",
                   "Error in setting the policy for some domains"}),
            KernelLogTexts());
  const auto journal = NewJournal();
  EXPECT_EQ(Texts{"SetSyscallRule " + std::to_string(Id("b")) + " b read grant"},
            Texts(journal.begin() + 2, journal.end()));
}

TEST_F(DomainLoadingTest, RefusedDomainDoesNotStopTheOthers) {
  scratch_.Write("domains/a", "-s read grant\n-s write grant\n");
  scratch_.Write("domains/b", "-s open grant\n");
  AddFault("SetSyscallRule", "full", "read");
  TestSupport::Capture([&] { EXPECT_EQ("Failure in domain policy", Load(Dir())); });
  EXPECT_EQ((Texts{"Parsed all domain names", "Domain policies parsed and syntax validated",
                   "Constraints check for domain policies succeeded",
                   "Error in setting policy for domain: a: 1 : full",
                   "Error in setting the policy for some domains"}),
            KernelLogTexts());
  const auto journal = NewJournal();
  EXPECT_EQ(Texts{"SetSyscallRule " + std::to_string(Id("b")) + " b open grant"},
            Texts(journal.begin() + 2, journal.end()));
}

TEST_F(DomainLoadingTest, UncreatableDomainEndsTheLoadBeforeParsing) {
  scratch_.Write("domains/a", "-s read grant\n");
  scratch_.Write("domains/b", "-s read grant\n");
  AddFault("CreateDomain", "no room", "b");
  EXPECT_EQ("no room", Load(Dir()));
  EXPECT_TRUE(KernelLogTexts().empty());
  EXPECT_EQ(Texts{"CreateDomain"}, Operations(NewJournal()));
}

TEST_F(DomainLoadingTest, MissingDirectoryIsReported) {
  EXPECT_EQ("Unable to open policy directory " + Dir(), Load(Dir()));
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

  EXPECT_EQ("", Load(plugins + "/"));
  EXPECT_TRUE(iface().FindDomain("foo", &id));
}

}  // namespace
}  // namespace DomainTests
