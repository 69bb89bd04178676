// Permission letters and what a file path rule sends to the kernel.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "secpolicy/domains/domain_policy.h"
#include "secpolicy/domains/file_path_access_rules.h"
#include "tests/secpolicy/domains/domain_fixture.h"

namespace DomainTests {
namespace {

struct Letters {
  const char* text;
  const char* result;  // the mask in hexadecimal, or the failure text
};

class PermissionTest : public testing::TestWithParam<Letters> {};

const Letters kLetters[] = {
    {"", "0x0"}, {"r", "0x1"}, {"w", "0x2"}, {"x", "0x10"}, {"xr", "0x11"}, {"xwr", "0x13"},
    {"wrw", "Write access already specified."},
    {"xx", "Exec access already specified."},
};

TEST_P(PermissionTest, MapsLettersToMask) {
  std::string result;
  const std::string failure = Failure([&] {
    std::ostringstream hex;
    hex << "0x" << std::hex << SecPolicy::FilePathAccessRules::GetPermission(GetParam().text);
    result = hex.str();
  });
  EXPECT_EQ(GetParam().result, result.empty() ? failure : result);
}

INSTANTIATE_TEST_SUITE_P(Letters, PermissionTest, testing::ValuesIn(kLetters),
                         [](const auto& c) { return TestSupport::CaseName(c.param.text); });

TEST_F(DomainTest, SendsWrittenAndResolvedPathsOrTheWrittenOneAlone) {
  const std::string target = scratch_.MakeDir("target");
  std::filesystem::create_directory_symlink(target, scratch_.path() / "link");
  const std::string link = scratch_.str() + "/link";
  const std::string longPath = "/" + std::string(1999, 'p');
  SecPolicy::DomainPolicy policy("appDom", appId_);
  auto parsed = Lines({{1, "-r " + link + " xr"}, {2, "-r /no/such"}, {3, "-r " + longPath + " w"}});
  policy.ProcessParsedPolicyFile(iface(), parsed);
  policy.SetPolicy(iface());
  const auto Batch = [&](const std::string& rest) {
    return "AddFilePolicyBatch 0 " + std::to_string(appId_) + " " + rest;
  };
  EXPECT_EQ((Texts{Batch("2 " + link + " 0x11 " + std::filesystem::canonical(target).string() +
                         " 0x11"),
                   Batch("1 /no/such 0x0"), Batch("1 " + longPath.substr(0, 1983) + " 0x2")}),
            NewJournal());
  EXPECT_EQ((Texts{"Getting realpath failed: /no/such", "Getting realpath failed: " + longPath}),
            TestSupport::KernelLogTexts());
}

}  // namespace
}  // namespace DomainTests
