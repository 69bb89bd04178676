#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <utility>
#include <string>

#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/policy_file_reader.h"
#include "tests/support/sim_fixture.h"

namespace SecPolicy {
namespace {

TEST(PolicyFileReader, UnopenableFileAndDirectoryNameThePathAsGiven) {
  ParsedPolicyFile parsed;
  PolicyFileList files;
  for (const auto& [open, text] : {std::pair<std::function<void()>, std::string>{
           [&] { ParseFile("/no/such/file", parsed); }, "Unable to open policy file /no/such/file"},
       {[&] { GetFileList("/no/such/dir/", files); }, "Unable to open policy directory /no/such/dir/"}}) {
    try {
      open();
      ADD_FAILURE() << text;
    } catch (const HostCtl::Lib::HostCtlException& e) {
      EXPECT_EQ(text, e.what());
    }
  }
  EXPECT_TRUE(parsed.empty() && files.empty());
}

// The corpus covers which entries are listed; here, how their paths are joined.
TEST(PolicyFileReader, ListsRegularFilesInByteOrderWithOrWithoutATrailingSlash) {
  TestSupport::ScratchDir dir;
  dir.Write("b", "");
  dir.Write("a", "");
  dir.Write("sub/inner", "");
  std::filesystem::create_symlink(dir.path() / "a", dir.path() / "link");
  for (const std::string suffix : {"", "/"}) {
    const std::string base = dir.str() + suffix + "/";
    PolicyFileList files;
    GetFileList(dir.str() + suffix, files);
    EXPECT_EQ(files, (PolicyFileList{{base + "a", "a"}, {base + "b", "b"}}));
  }
}

}  // namespace
}  // namespace SecPolicy
