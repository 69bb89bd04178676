// Loads killed at many points leave a state that opens cleanly and holds a
// prefix of a complete load's writes; loads and a display running at once
// all succeed.
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostsim/admin.h"
#include "hostsim/state.h"
#include "tests/secpolicy/load/child_process.h"
#include "tests/support/sim_fixture.h"

namespace {

using Strings = std::vector<std::string>;
using TestChild::Child;

const std::string kSecpolicy = SECPOLICY_BIN_DIR "/secpolicy";

class CrashConcurrencyTest : public TestSupport::SimulatedHostTest {
 protected:
  // `count` domains named prefix0.., each with `rules` system call rules.
  std::string Tree(const std::string& name, const std::string& prefix, int count, int rules) {
    static const char* kCalls[] = {"read", "write", "open", "close", "stat", "poll", "lseek", "mmap"};
    for (int d = 0; d < count; ++d) {
      std::string text;
      for (int r = 0; r < rules; ++r) text += std::string("-s ") + kCalls[r % 8] + (r % 3 ? " grant\n" : " revoke\n");
      scratch_.Write(name + "/" + prefix + std::to_string(d), text);
    }
    return (scratch_.path() / name).string();
  }
  std::string Err(const std::string& name) { return (scratch_.path() / ("err-" + name)).string(); }
  static std::string Integrity() {
    const std::string command = "sqlite3 '" + std::string(std::getenv("HOSTSIM_STATE")) + "' 'PRAGMA integrity_check;'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char line[256] = {};
    return pipe && std::fgets(line, sizeof line, pipe.get()) ? line : "";
  }
};

// The load runs to the end, then again on fresh states, each time killed
// once the journal holds `after` lines: the state must open cleanly and
// hold a prefix of the complete load's journal.
TEST_F(CrashConcurrencyTest, KilledLoadLeavesACleanPrefixOfTheCompleteLoad) {
  const Strings args = {kSecpolicy, "load-domains", Tree("domains", "dom", 12, 25)};  // 12 x 26 journal lines
  {
    Child full(args, Err("full"));
    ASSERT_EQ(full.Wait(), 0) << full.Err();
  }
  const Strings complete = HostSim::Journal();
  ASSERT_GT(complete.size(), 311u);
  for (std::size_t after : {0u, 1u, 2u, 12u, 13u, 40u, 100u, 200u, 311u}) {
    HostSim::Init();
    Child run(args, Err("kill"));
    while (run.Running() && HostSim::Journal().size() < after) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    run.Kill();
    run.Wait();
    EXPECT_EQ(Integrity(), "ok\n") << "killed after " << after;
    const Strings left = HostSim::Journal();
    ASSERT_LE(left.size(), complete.size());
    EXPECT_TRUE(std::equal(left.begin(), left.end(), complete.begin())) << "killed after " << after;
    EXPECT_GE(left.size(), after);
  }
}

// Three loads of different domains and a display, started together on a
// state that no process holds open, so that they race to open it too.
TEST_F(CrashConcurrencyTest, LoadsAndADisplayAtOnceAllSucceed) {
  const Strings prefixes = {"alpha", "beta", "gamma"};
  for (const auto& prefix : prefixes) Tree(prefix, prefix, 6, 30);
  for (int round = 0; round < 4; ++round) {
    HostSim::Init();
    HostSim::State::Forget();
    std::vector<std::unique_ptr<Child>> children;
    for (const auto& prefix : prefixes) {
      children.push_back(std::make_unique<Child>(Strings{kSecpolicy, "load-domains", scratch_.str() + "/" + prefix}, Err(prefix)));
    }
    children.push_back(std::make_unique<Child>(Strings{kSecpolicy, "display-domains"}, Err("display")));
    for (const auto& child : children) {
      EXPECT_EQ(child->Wait(), 0) << "round " << round << ": " << child->Err();
      EXPECT_EQ(child->Err().find("hostsim state"), std::string::npos) << child->Err();
    }
    EXPECT_EQ(Integrity(), "ok\n");
    // Every rule of every load reached the kernel, and every domain got its own id.
    Strings ids;
    std::size_t rules = 0;
    for (const auto& line : HostSim::Journal()) {
      rules += line.rfind("SetSyscallRule ", 0) == 0;
      if (line.rfind("CreateDomain ", 0) == 0) ids.push_back(line.substr(13, line.find(' ', 13) - 13));
    }
    EXPECT_EQ(rules, 3u * 180u);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids.size(), 18u);
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
  }
}

}  // namespace
