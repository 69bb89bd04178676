// Loads killed at many points leave a state that opens cleanly and holds a
// prefix of a complete load's writes; loads and a display running at once
// all succeed; the simulated kernel waits for a state that another process
// holds locked.
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hostsim/admin.h"
#include "hostsim/state.h"
#include "tests/load/child_process.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using TestChild::Child;
using ::testing::HasSubstr;
using ::testing::Not;

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
  fs::path Io(const std::string& name) { return scratch_.MakeDir("io-" + name); }
  std::string State() const { return std::getenv("HOSTSIM_STATE"); }
  std::string Integrity() {
    Child check({"sqlite3", State(), "PRAGMA integrity_check;"}, Io("check"));
    check.Wait();
    return check.Out();
  }

  // Runs `args` to the end on a fresh state, then again on fresh states,
  // each time killed once the journal holds `after` lines: the state must
  // open cleanly and hold a prefix of the complete run's journal.
  // `prepare` readies each fresh state.
  void KillAtManyPoints(const Strings& args, const std::vector<std::size_t>& points,
                        const std::function<void()>& prepare = [] {}) {
    prepare();
    const std::size_t before = HostSim::Journal().size();
    {
      Child full(args, Io("full"));
      const int status = full.Wait();
      if (full.Err().find("private mount namespace") != std::string::npos) GTEST_SKIP() << full.Err();
      ASSERT_EQ(status, 0) << full.Err();
    }
    const Strings complete = HostSim::Journal();
    ASSERT_GT(complete.size(), points.back());
    for (std::size_t after : points) {
      HostSim::Init();
      prepare();
      Child run(args, Io("kill" + std::to_string(after)));
      while (run.Running() && HostSim::Journal().size() < before + after) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      run.Kill();
      run.Wait();
      EXPECT_EQ(Integrity(), "ok\n") << "killed after " << after;
      const Strings left = HostSim::Journal();
      ASSERT_LE(left.size(), complete.size());
      EXPECT_TRUE(std::equal(left.begin(), left.end(), complete.begin())) << "killed after " << after;
      EXPECT_GE(left.size(), before + after);
    }
  }
};

TEST_F(CrashConcurrencyTest, KilledDomainLoadLeavesACleanPrefixOfTheCompleteLoad) {
  const std::string dir = Tree("domains", "dom", 12, 25);  // 12 x 26 journal lines
  KillAtManyPoints({kSecpolicy, "load-domains", dir}, {0, 1, 2, 12, 13, 40, 100, 200, 311});
}

TEST_F(CrashConcurrencyTest, KilledFullLoadLeavesACleanPrefixOfTheCompleteLoad) {
  const fs::path root = scratch_.path() / "root";
  const fs::path policy = root / "etc/norvane/secpolicy";
  Tree("root/etc/norvane/secpolicy/domains", "dom", 8, 20);
  for (const char* domain : {"globalVMDom", "ioFilterDom", "appDom", "daemonFrameworkDom", "superDom"}) {
    scratch_.Write("root/etc/norvane/secpolicy/domains/" + std::string(domain), "-s open grant\n");
  }
  scratch_.Write("root/etc/norvane/secpolicy/objects/main", "appLabel\nother\n");
  scratch_.Write("root/etc/norvane/secpolicy/tardisks/p1", "-E systemBinary superDom\n");
  scratch_.Write("root/etc/norvane/secpolicy/fileLabels/map", (root / "files").string() + "/* appLabel\n");
  for (const char* file : {"tardisks/t1", "tardisks/t2", "files/a", "files/b/c"}) scratch_.Write("root/" + std::string(file), "x");
  HostSim::InitFileLabel((root / "tardisks").string(), true);
  HostSim::InitFileLabel((root / "files").string(), true);
  KillAtManyPoints({SECPOLICY_BIN_DIR "/hostsim", "run", "--root", root.string(), "--", kSecpolicy, "load"},
                   {0, 1, 5, 20, 60, 120, 170},
                   [&] { HostSim::MapTardisk((policy / "tardisks/p1").string(), "t1"); });
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
      children.push_back(std::make_unique<Child>(
          Strings{kSecpolicy, "load-domains", (scratch_.path() / prefix).string()}, Io(prefix)));
    }
    children.push_back(std::make_unique<Child>(Strings{kSecpolicy, "display-domains"}, Io("display")));
    for (const auto& child : children) {
      EXPECT_EQ(child->Wait(), 0) << "round " << round << ": " << child->Err();
      EXPECT_THAT(child->Err(), Not(HasSubstr("hostsim state")));
    }
    EXPECT_EQ(Integrity(), "ok\n");
    const Strings journal = HostSim::Journal();
    for (const auto& prefix : prefixes) {
      const auto rules = std::count_if(journal.begin(), journal.end(), [&](const std::string& line) {
        return line.rfind("SetSyscallRule ", 0) == 0 && line.find(" " + prefix) != std::string::npos;
      });
      EXPECT_EQ(rules, 180) << prefix;
    }
    // Every domain got its own id.
    Strings ids;
    for (const auto& line : journal) {
      if (line.rfind("CreateDomain ", 0) == 0) ids.push_back(line.substr(13, line.find(' ', 13) - 13));
    }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids.size(), 18u);
    EXPECT_EQ(std::unique(ids.begin(), ids.end()), ids.end());
  }
}

TEST_F(CrashConcurrencyTest, KernelWaitsForAStateHeldLockedByAnotherProcess) {
  HostSim::Journal();  // the state exists before the lock is taken
  Child holder({"sqlite3", State()}, Io("holder"),
               "BEGIN IMMEDIATE;\nINSERT INTO journal(line) VALUES('held');\n.shell sleep 1\nCOMMIT;\n");
  // Until the holder's write is visible its lock is taken or about to be.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(holder.Running());
  TestSupport::ToolResult create = TestSupport::RunTool("secpolicy", {"domain", "create", "waiter"});
  EXPECT_EQ(create.status, 0) << create.err;
  EXPECT_EQ(holder.Wait(), 0) << holder.Err();
  const Strings journal = HostSim::Journal();
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0], "held");
  EXPECT_THAT(journal[1], HasSubstr("waiter"));
}

}  // namespace
