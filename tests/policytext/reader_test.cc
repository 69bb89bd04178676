#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/host_ctl_exception.h"
#include "policytext/policy_file_reader.h"
#include "tests/support/sim_fixture.h"

namespace SecPolicy {
namespace {

using Lines = std::map<unsigned int, std::vector<std::string>>;

Lines Flatten(ParsedPolicyFile parsed) {
  Lines lines;
  for (auto& [number, queue] : parsed) {
    for (; !queue.empty(); queue.pop()) lines[number].push_back(queue.front());
  }
  return lines;
}

struct ReadCase {
  const char* name;
  std::string content;
  Lines expected;
};

class ParseFileTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ParseFileTest, NumbersEveryPhysicalLine) {
  TestSupport::ScratchDir dir;
  ParsedPolicyFile parsed;
  ParseFile(dir.Write("policy", GetParam().content), parsed);
  EXPECT_EQ(Flatten(std::move(parsed)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParseFileTest,
    testing::Values(
        ReadCase{"OnlyBlankAndComments", "\n   \n# grant /a r\n\n", {}},
        ReadCase{"SpacesAndTrailingComment",
                 "  grant  /bin   rx  # why\n",
                 {{1, {"grant", "/bin", "rx"}}}},
        ReadCase{"CommentLineStillCounted", "a\n#c\nb\n", {{1, {"a"}}, {3, {"b"}}}},
        ReadCase{"HashInsideWordCutsLine", "ab#cd ef\nnext\n", {{1, {"ab"}}, {2, {"next"}}}},
        ReadCase{"TabAndCarriageReturnAreTokenCharacters",
                 "a\tb c\r\nd\r\n",
                 {{1, {"a\tb", "c\r"}}, {2, {"d\r"}}}},
        ReadCase{"Line1024EndsReading",
                 "a\n" + std::string(1024, 'y') + "\nlater\n",
                 {{1, {"a"}}, {2, {std::string(1023, 'y')}}}}),
    [](const auto& p) { return std::string(p.param.name); });

template <typename Body>
std::string FailureText(Body body) {
  try {
    body();
  } catch (const HostCtl::Lib::HostCtlException& e) {
    return e.what();
  }
  return "no exception";
}

TEST(PolicyFileReader, UnopenableFileAndDirectoryNameThePathAsGiven) {
  ParsedPolicyFile parsed;
  PolicyFileList files;
  EXPECT_EQ(FailureText([&] { ParseFile("/no/such/file", parsed); }),
            "Unable to open policy file /no/such/file");
  EXPECT_EQ(FailureText([&] { GetFileList("/no/such/dir/", files); }),
            "Unable to open policy directory /no/such/dir/");
  EXPECT_TRUE(parsed.empty());
  EXPECT_TRUE(files.empty());
}

TEST(PolicyFileReader, ListsRegularFilesOnlyInByteOrder) {
  TestSupport::ScratchDir dir;
  dir.Write("b", "");
  dir.Write("a", "");
  dir.Write(".hidden", "");
  dir.Write("sub/inner", "");
  std::filesystem::create_symlink(dir.path() / "a", dir.path() / "link");
  for (const std::string suffix : {"", "/"}) {
    const std::string base = dir.str() + suffix + "/";
    PolicyFileList files;
    GetFileList(dir.str() + suffix, files);
    EXPECT_EQ(files, (PolicyFileList{
                         {base + ".hidden", ".hidden"}, {base + "a", "a"}, {base + "b", "b"}}));
  }
}

TEST(PolicyFileReader, IsGrantIsExactAndCaseSensitive) {
  std::string grant = "grant", revoke = "revoke";
  EXPECT_TRUE(IsGrant(grant));
  EXPECT_FALSE(IsGrant(revoke));
  for (std::string word : {"Grant", "grant ", "REVOKE", ""}) {
    EXPECT_EQ(FailureText([&] { IsGrant(word); }), "invalid keyword " + word);
  }
}

}  // namespace
}  // namespace SecPolicy
