// State files that cannot hurt anyone: only init creates one; every other
// command refuses what is not a usable state of ours and leaves it as it
// was; a read-only state can be read; the default path.
#include <gmock/gmock.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "hostsim/admin.h"
#include "hostsim/state.h"
#include "tests/support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;
using TestSupport::RunTool;
using ::testing::HasSubstr;

constexpr uid_t kOther = 65534;

// Everything about a file that a refusal must leave alone.
std::string Facts(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return "(none)";
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  return std::to_string(info.st_mode) + " " + std::to_string(info.st_uid) + " " +
         std::to_string(std::hash<std::string>{}(bytes)) + " " + std::to_string(bytes.size());
}

// Runs `body` in a child as user kOther; its return value is the exit status.
int AsOtherUser(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(kOther, kOther, kOther) != 0 ||
        setresuid(kOther, kOther, kOther) != 0) {
      _exit(99);
    }
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Sql(const std::string& path, const std::string& sql) {
  ASSERT_EQ(std::system(("sqlite3 '" + path + "' \"" + sql + "\"").c_str()), 0) << sql;
}

class StateFileTest : public TestSupport::SimulatedHostTest {
 protected:
  std::string State() const { return std::getenv("HOSTSIM_STATE"); }
  void Use(const std::string& path) {
    HostSim::State::Forget();
    setenv("HOSTSIM_STATE", path.c_str(), 1);
  }
  void TearDown() override {
    Use((scratch_.path() / "state.db").string());
    SimulatedHostTest::TearDown();
  }
  // A state of ours at `path` with no log beside it.
  void MakeState(const std::string& path) {
    Use(path);
    HostSim::Init();
    HostSim::State::Forget();
  }
};

TEST_F(StateFileTest, CommandsRefuseWhatIsNotAUsableStateAndLeaveItAsItWas) {
  const std::string dir = scratch_.MakeDir("cases");
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    std::string why;  // after "hostsim state <path>: "
  };
  const std::vector<Case> cases = {
      {"missing", [](const std::string&) {}, "no such file; run 'hostsim init' to create a simulated host"},
      {"empty", [](const std::string& p) { std::ofstream{p}; },
       "the file is empty; run 'hostsim init' to create a simulated host"},
      {"foreign", [](const std::string& p) {
         Sql(p, "CREATE TABLE config(k, v); CREATE TABLE journal(line); INSERT INTO config VALUES(1, 2);");
         chmod(p.c_str(), 0640);
       }, "not a simulated host's state; point HOSTSIM_STATE at one or run 'hostsim init'"},
      {"text", [](const std::string& p) { std::ofstream{p} << "SQLite format 3 but not really\n"; },
       "not a simulated host's state; point HOSTSIM_STATE at one or run 'hostsim init'"},
      {"others-write", [this](const std::string& p) { MakeState(p); chmod(p.c_str(), 0662); },
       "is writable by other users"},
      {"others-own", [this](const std::string& p) { MakeState(p); ASSERT_EQ(chown(p.c_str(), kOther, kOther), 0); },
       "is owned by another user (uid 65534)"},
      {"symlink", [this, dir](const std::string& p) { MakeState(dir + "/target.db"); fs::create_symlink("target.db", p); },
       "is a symbolic link"},
      {"open-folder/state.db", [this, dir](const std::string& p) {
         fs::create_directory(dir + "/open-folder");
         MakeState(p);
         chmod((dir + "/open-folder").c_str(), 0777);
       }, "its folder " + dir + "/open-folder is writable by other users"},
      {"no-folder/state.db", [](const std::string&) {}, "no such file; run 'hostsim init' to create a simulated host"},
  };
  for (const auto& c : cases) {
    const std::string path = dir + "/" + c.name;
    c.make(path);
    Use(path);
    const std::string before = Facts(path);
    for (const auto& command : std::vector<std::vector<std::string>>{
             {"secpolicy", "display-objects"}, {"secpolicy", "load-domains", dir},
             {"secpolicy", "check", dir}, {"hostsim", "journal"},
             {"hostsim", "world", "add", "1", "2"}}) {
      const auto result = RunTool(command[0], {command.begin() + 1, command.end()});
      EXPECT_EQ(result.status, 1) << c.name << " " << command[1];
      EXPECT_THAT(result.err, HasSubstr("Error: hostsim state " + path + ": " + c.why + "\n")) << c.name;
      EXPECT_EQ(result.out, "") << c.name << " " << command[1];  // not even a display's heading
    }
    EXPECT_EQ(Facts(path), before) << c.name;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) EXPECT_FALSE(fs::exists(path + suffix)) << c.name;
  }
  EXPECT_FALSE(fs::exists(dir + "/no-folder"));

  // init refuses another program's file unless forced, and leaves it alone.
  const std::string foreign = dir + "/foreign";
  const std::string before = Facts(foreign);
  Use(foreign);
  const auto refused = RunTool("hostsim", {"init"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "Error: hostsim state " + foreign +
                             ": not a simulated host's state; 'hostsim init --force' replaces it\n");
  EXPECT_EQ(Facts(foreign), before);
  EXPECT_EQ(RunTool("hostsim", {"init", "--force"}).status, 0);
  EXPECT_THAT(RunTool("secpolicy", {"display-objects"}).out, HasSubstr("unlabeled (2)"));
  struct stat info {};
  stat(foreign.c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(StateFileTest, OwnStateInAStickyFolderIsFineAndAnotherUsersIsNot) {
  const std::string sticky = scratch_.MakeDir("tmp");
  chmod(sticky.c_str(), 01777);
  MakeState(sticky + "/mine.db");
  EXPECT_EQ(RunTool("secpolicy", {"domain", "create", "dom"}).status, 0);
  chmod(scratch_.str().c_str(), 0711);
  EXPECT_EQ(AsOtherUser([&] {
              setenv("HOSTSIM_STATE", (sticky + "/planted.db").c_str(), 1);
              HostSim::Init();
              return 0;
            }),
            0);
  Use(sticky + "/planted.db");
  const auto result = RunTool("secpolicy", {"domain", "create", "dom"});
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.err, HasSubstr("is owned by another user (uid 65534)"));
}

TEST_F(StateFileTest, ReadOnlyStateIsReadWithoutCreatingAnything) {
  const std::string folder = scratch_.MakeDir("ro");
  const std::string path = folder + "/state.db";
  MakeState(path);
  ASSERT_EQ(chown(folder.c_str(), kOther, kOther) | chown(path.c_str(), kOther, kOther), 0);
  chmod(path.c_str(), 0400);
  chmod(folder.c_str(), 0500);
  chmod(scratch_.str().c_str(), 0711);
  const std::string before = Facts(path);
  const std::string out = scratch_.MakeDir("out") + "/seen";
  ASSERT_EQ(chown(fs::path(out).parent_path().c_str(), kOther, kOther), 0);
  EXPECT_EQ(AsOtherUser([&] {
              const auto display = RunTool("secpolicy", {"display-objects"});
              const auto write = RunTool("secpolicy", {"load-objects", folder});
              std::ofstream(out) << display.status << display.out << write.status << write.err;
              return 0;
            }),
            0);
  std::ifstream in(out);
  const std::string seen((std::istreambuf_iterator<char>(in)), {});
  EXPECT_THAT(seen, HasSubstr("0\n\n---"));
  EXPECT_THAT(seen, HasSubstr("unlabeled (2)"));
  EXPECT_THAT(seen, HasSubstr("1Error: hostsim state " + path + ": cannot lock it for writing: Permission denied"));
  EXPECT_EQ(Facts(path), before);
  EXPECT_EQ(fs::directory_iterator(folder)->path(), path);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(StateFileTest, DefaultPathIsNeverASharedTemporaryFolder) {
  unsetenv("HOSTSIM_STATE");
  setenv("XDG_STATE_HOME", "/x", 1);
  EXPECT_EQ(HostSim::StatePath(), "/var/lib/hostsim/state.db");
  const struct {
    const char* xdg;
    const char* home;
    std::string want;
  } cases[] = {{"/x", "/h", "/x/hostsim/state.db"},
               {"relative", "/h", "/h/.local/state/hostsim/state.db"},
               {nullptr, nullptr, "/nonexistent/.local/state/hostsim/state.db"}};
  for (const auto& c : cases) {
    EXPECT_EQ(AsOtherUser([&] {
                c.xdg ? setenv("XDG_STATE_HOME", c.xdg, 1) : unsetenv("XDG_STATE_HOME");
                c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
                return HostSim::StatePath() == c.want ? 0 : 1;
              }),
              0)
        << c.want;
  }
  unsetenv("XDG_STATE_HOME");
}

TEST_F(StateFileTest, IdsBeyondThirtyTwoBitsAreDamageNotTruncation) {
  EXPECT_EQ(RunTool("secpolicy", {"domain", "create", "appDom"}).status, 0);
  HostSim::State::Forget();
  Sql(State(), "UPDATE domains SET id = 4294967298 WHERE name = 'appDom';");
  const std::string tree = scratch_.Write("tree/appDom", "-s open grant\n");
  const auto load = RunTool("secpolicy", {"load-domains", fs::path(tree).parent_path().string()});
  EXPECT_EQ(load.status, 1);
  EXPECT_THAT(load.err, HasSubstr("hostsim state " + State() +
                                  ": damaged state: id 4294967298 is not a 32-bit number; run 'hostsim init'"));
}

}  // namespace
