// What both tools do around every command: version, unknown commands, one
// number syntax, output that cannot be written, verbose runs, retries, and
// the exit status of a command `hostsim run` cannot start. One state, the
// rows run in order.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/sim_fixture.h"

namespace {

struct Row {
  std::string command;  // tool and arguments, split at spaces; @DIR@ is the scratch folder
  int exit;
  std::string out;      // standard output ("re:" a regular expression, "*" unchecked)
  std::string err;      // standard error, alike
  bool fullDevice = false;  // standard output is /dev/full
};

bool Same(const std::string& expected, const std::string& actual) {
  if (expected == "*") return true;
  if (expected.starts_with("re:")) return std::regex_match(actual, std::regex(expected.substr(3)));
  return expected == actual;
}

const char kWrite[] = "Error: write error: No space left on device\n";
const char kBadWorld[] =
    "WORLD: not a world id (-2147483648 to 2147483647, decimal or 0x hex): \"8a\"\n"
    "Run with --help for more information.\n";

class ToolBasicsTest : public TestSupport::SimulatedHostTest {};

TEST_F(ToolBasicsTest, CommandsExitAndSayWhatHappened) {
  scratch_.Write("domains/alpha", "");
  const std::vector<Row> rows = {
      {"secpolicy --version", 0, "re:secpolicy [0-9]+\\.[0-9]+\\.[0-9]+\n", ""},
      {"hostsim --version", 0, "re:hostsim [0-9]+\\.[0-9]+\\.[0-9]+\n", ""},
      {"secpolicy bogus", 2, "", "secpolicy: unknown command 'bogus'\n"},
      {"secpolicy -v domain bogus", 2, "", "secpolicy domain: unknown command 'bogus'\n"},
      {"hostsim bogus", 2, "", "hostsim: unknown command 'bogus'\n"},
      // The id is lost, so the command fails, though the domain was made.
      {"secpolicy domain create lost", 1, "", kWrite, true},
      {"secpolicy domain name 2", 0, "lost\n", ""},
      {"secpolicy display-domains", 1, "", kWrite, true},
      {"hostsim journal", 1, "", kWrite, true},
      {"secpolicy --help", 1, "", kWrite, true},
      // Numbers: 010 is ten in both tools, and a bad one is worded alike.
      {"hostsim world add 010 0x2", 0, "", ""},
      {"secpolicy domain of-world 10", 0, "2\n", ""},
      {"hostsim world add 8a 2", 2, "", kBadWorld},
      {"secpolicy domain of-world 8a", 2, "", kBadWorld},
      {"secpolicy domain of-world +10", 2, "",
       "WORLD: not a world id (-2147483648 to 2147483647, decimal or 0x hex): \"+10\"\n"
       "Run with --help for more information.\n"},
      {"hostsim world add +1 2", 2, "",
       "WORLD: not a world id (-2147483648 to 2147483647, decimal or 0x hex): \"+1\"\n"
       "Run with --help for more information.\n"},
      {"secpolicy load-domains @DIR@/domains -v", 0, "",
       "Parsed all domain names\nDomain policies parsed and syntax validated\n"
       "Constraints check for domain policies succeeded\nDomain policies set\n"},
      {"secpolicy load-domains @DIR@/domains", 0, "", ""},
      // An empty batch still reaches the kernel, which answers the count.
      {"secpolicy file-policy add 0 2", 0, "0\n", ""},
      {"secpolicy file-policy add 0 2 /a r /b w", 0, "2\n", ""},
      {"secpolicy file-policy list 2 --size 5 --retries 0", 0, "/a 0x1\n/b 0x2\n", ""},
      {"secpolicy file-policy list 2 --size 1 --retries 3", 75, "",
       "Error: Failed to retrieve policies from domain:: 2 : No buffer space available\n"},
      {"hostsim run --root @DIR@ -- no-such-command-here", 127, "",
       "Error: cannot run no-such-command-here: No such file or directory\n"},
      {"hostsim run --root @DIR@ -- @DIR@/domains/alpha", 126, "",
       "re:Error: cannot run .*/domains/alpha: Permission denied\n"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args;
    std::string command = row.command;
    for (std::size_t at; (at = command.find("@DIR@")) != std::string::npos;) {
      command.replace(at, 5, scratch_.str());
    }
    for (std::size_t from = 0, to; from <= command.size(); from = to + 1) {
      to = std::min(command.find(' ', from), command.size());
      args.push_back(command.substr(from, to - from));
    }
    const std::string tool = args.front();
    args.erase(args.begin());
    TestSupport::RunLimits limits;
    if (row.fullDevice) limits.stdoutPath = "/dev/full";
    const auto result = TestSupport::RunTool(tool, args, limits);
    if (result.err.find("private mount namespace") != std::string::npos) continue;  // no privilege
    EXPECT_EQ(result.status, row.exit) << row.command << "\n" << result.err;
    EXPECT_TRUE(Same(row.out, result.out)) << row.command << "\n" << result.out;
    EXPECT_TRUE(Same(row.err, result.err)) << row.command << "\n" << result.err;
  }
}

// Short of memory while the command line is being built, a tool says so in
// one line and exits 1, even while its static objects are made. The
// address-space limit is raised step by step from where the program cannot
// even be loaded to where --version works. Only libsecpolicy's own static
// objects, made before the program's, may still end in an abort.
TEST_F(ToolBasicsTest, OutOfMemoryWhileStartingIsOneErrorLine) {
  if (TestSupport::kSanitized) GTEST_SKIP() << "a sanitizer's shadow memory needs more address space";
  for (const std::string tool : {"secpolicy", "hostsim"}) {
    bool reported = false, started = false;
    for (unsigned long kib = 2048; kib < 256 * 1024 && !started;) {
      TestSupport::RunLimits limits;
      limits.addressSpace = kib << 10;
      const auto result = TestSupport::RunTool(tool, {"--version"}, limits);
      started = result.status == 0;
      if (result.status == 1) {
        EXPECT_EQ(result.err, "Error: out of memory\n") << tool << " at " << kib << " KiB";
        reported = true;
      } else {
        const bool aborted = result.err.find("terminate called") != std::string::npos;
        EXPECT_FALSE(aborted && (tool == "hostsim" || result.err.find("bad_alloc") != std::string::npos))
            << tool << " at " << kib << " KiB: " << result.err;
      }
      kib += result.status == 127 ? 64 : 8;  // coarse while the loader fails
    }
    EXPECT_TRUE(started) << tool;
    EXPECT_TRUE(reported) << tool;
  }
}

}  // namespace
