// The example host's script: it works on a scratch copy of its own, so two
// runs never meet and the copy it comes from (an installed one under
// /usr/share/doc) never gets a label.
#include <gmock/gmock.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

class ExampleTest : public TestSupport::SimulatedHostTest {};

TEST_F(ExampleTest, RunsOnAScratchCopyOfItsOwnAndLeavesNothing) {
  const fs::path host = scratch_.path() / "host", tmp = scratch_.path() / "tmp";
  fs::copy(fs::path(SECPOLICY_SOURCE_DIR) / "examples/host", host, fs::copy_options::recursive);
  fs::create_directory(tmp);
  const fs::path build = fs::path(SECPOLICY_BIN_DIR).parent_path();
  const std::string command = "TMPDIR='" + tmp.string() + "' '" + (host / "run-example").string() +
                              "' '" + build.string() + "' >'" + scratch_.str() + "/out' 2>'" +
                              scratch_.str() + "/err'";
  const int status = std::system(command.c_str());
  const std::string err = Read(scratch_.path() / "err");
  if (err.find("private mount namespace") != std::string::npos) GTEST_SKIP() << "no privilege";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << err;
  const std::string out = Read(scratch_.path() / "out");
  EXPECT_THAT(out, ::testing::HasSubstr("\n/tardisks/iofilters (ioFilterBinary)\n"));
  EXPECT_THAT(out, ::testing::EndsWith("\nmgmtdBinary\n"));
  EXPECT_TRUE(fs::is_empty(tmp));
  for (const auto& entry : fs::recursive_directory_iterator(host)) {
    char value[16];
    EXPECT_LT(lgetxattr(entry.path().c_str(), "security.norvane", value, sizeof value), 0)
        << entry.path();
  }
}

}  // namespace
