// Permission letters and what a file path rule sends to the kernel.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <variant>

#include "domains/domain_policy.h"
#include "domains/file_path_access_rules.h"
#include "platform/host_ctl_exception.h"
#include "tests/domains/domain_fixture.h"

namespace DomainTests {
namespace {

using SecPolicy::DomainPolicy;
using SecPolicy::FilePathAccessRules;

struct Letters {
  const char* text;
  std::variant<unsigned int, const char*> result;  // mask or failure text
};

class PermissionTest : public testing::TestWithParam<Letters> {};

const Letters kLetters[] = {
    {"", 0u},
    {"r", 0x1u},
    {"w", 0x2u},
    {"x", 0x10u},
    {"xr", 0x11u},
    {"rwx", 0x13u},
    {"xwr", 0x13u},
    {"rr", "Read access already specified."},
    {"wrw", "Write access already specified."},
    {"xx", "Exec access already specified."},
    {"R", "Unknown access privilege specified."},
    {"r-", "Unknown access privilege specified."},
    // The length is judged before any letter.
    {"rwxr", "Please enter the permissions from [rwx]."},
    {"abcd", "Please enter the permissions from [rwx]."},
};

TEST_P(PermissionTest, MapsLettersToMask) {
  const Letters& letters = GetParam();
  if (const auto* mask = std::get_if<unsigned int>(&letters.result)) {
    EXPECT_EQ(*mask, FilePathAccessRules::GetPermission(letters.text));
    return;
  }
  try {
    FilePathAccessRules::GetPermission(letters.text);
    FAIL() << "accepted: " << letters.text;
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    EXPECT_STREQ(std::get<const char*>(letters.result), failure.what());
  }
}

INSTANTIATE_TEST_SUITE_P(Letters, PermissionTest, testing::ValuesIn(kLetters));

class FilePathSetTest : public DomainTest {
 protected:
  // Parses and writes the given "-r" lines for appDom.
  void Write(const std::vector<std::pair<unsigned int, std::string>>& lines) {
    DomainPolicy policy("appDom", appId_);
    auto parsed = Lines(lines);
    policy.ProcessParsedPolicyFile(iface(), parsed);
    policy.SetPolicy(iface());
  }
  std::string Batch(const std::string& rest) const {
    return "AddFilePolicyBatch 0 " + std::to_string(appId_) + " " + rest;
  }
};

TEST_F(FilePathSetTest, SendsWrittenAndResolvedPathWithOneMask) {
  const std::string target = scratch_.MakeDir("target");
  std::filesystem::create_directory_symlink(target, scratch_.path() / "link");
  const std::string link = scratch_.str() + "/link";
  const std::string resolved = std::filesystem::canonical(target).string();
  Write({{1, "-r " + link + " xr"}});
  EXPECT_EQ(std::vector<std::string>{Batch("2 " + link + " 0x11 " + resolved + " 0x11")},
            NewJournal());
}

TEST_F(FilePathSetTest, UnresolvablePathIsSentAloneWithNoAccess) {
  Write({{1, "-r /no/such/path"}});
  EXPECT_EQ(std::vector<std::string>{Batch("1 /no/such/path 0x0")}, NewJournal());
  EXPECT_EQ(std::vector<std::string>{"Getting realpath failed: /no/such/path"},
            TestSupport::KernelLogTexts());
}

TEST_F(FilePathSetTest, LongPathIsTruncatedTo1983Bytes) {
  const std::string path = "/" + std::string(1999, 'p');
  Write({{1, "-r " + path + " w"}});
  EXPECT_EQ(std::vector<std::string>{Batch("1 " + path.substr(0, 1983) + " 0x2")}, NewJournal());
}

TEST_F(FilePathSetTest, BadLettersFailBareAndStopTheWrite) {
  try {
    Write({{1, "-r /a r"}, {2, "-r /b rr"}, {3, "-r /c w"}});
    FAIL();
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    EXPECT_STREQ("Read access already specified.", failure.what());
  }
  EXPECT_EQ(std::vector<std::string>{Batch("1 /a 0x1")}, NewJournal());
}

TEST_F(FilePathSetTest, RefusedBatchNamesDomainAndLine) {
  AddFault("AddFilePolicyBatch", "", "/b", std::nullopt, EACCES);
  try {
    Write({{2, "-r /a r"}, {4, "-r /b r"}, {6, "-r /c r"}});
    FAIL();
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    EXPECT_EQ("Error in setting policy for domain: appDom: 4 : Failed to add file policies to "
              "domain :" + std::to_string(appId_) + ": world ID :0:Permission denied",
              std::string(failure.what()));
  }
  EXPECT_EQ(std::vector<std::string>{Batch("1 /a 0x1")}, NewJournal());
}

}  // namespace
}  // namespace DomainTests
