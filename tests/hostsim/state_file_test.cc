// State files that cannot hurt anyone: only init creates one; every other
// command refuses what is not a usable state of ours and leaves it as it
// was; a read-only state can be read; the default path.
#include <gmock/gmock.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "hostsim/admin.h"
#include "hostsim/state.h"
#include "secpolicy/platform/hyx_access.h"
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
      {"group-write-0620", [this](const std::string& p) { MakeState(p); chmod(p.c_str(), 0620); },
       "is writable by other users"},
      {"group-write-0660", [this](const std::string& p) { MakeState(p); chmod(p.c_str(), 0660); },
       "is writable by other users"},
      {"newer-schema", [this](const std::string& p) { MakeState(p); Sql(p, "PRAGMA user_version=2;"); },
       "a state of schema version 2, this hostsim reads version 1; run 'hostsim init'"},
      {"linked/state.db", [this, dir](const std::string& p) {
         fs::create_directory(dir + "/real");
         MakeState(dir + "/real/state.db");
         fs::create_directory_symlink("real", fs::path(p).parent_path());
       }, "its folder " + dir + "/linked is a symbolic link; name the state by its real path " + dir +
              "/real/state.db"},
      {"sticky/wal-link.db", [this, dir](const std::string& p) {
         fs::create_directory(dir + "/sticky");
         chmod((dir + "/sticky").c_str(), 01777);
         MakeState(p);
         fs::create_symlink(dir + "/elsewhere", p + "-wal");
         ASSERT_EQ(lchown((p + "-wal").c_str(), kOther, kOther), 0);
       }, "its write-ahead log " + dir + "/sticky/wal-link.db-wal is a symbolic link"},
      {"sticky/shm-planted.db", [this](const std::string& p) {
         MakeState(p);
         std::ofstream(p + "-shm") << "planted";
         ASSERT_EQ(chown((p + "-shm").c_str(), kOther, kOther), 0);
       }, "its shared-memory index " + dir + "/sticky/shm-planted.db-shm is owned by another user (uid 65534)"},
  };
  for (const auto& c : cases) {
    const std::string path = dir + "/" + c.name;
    c.make(path);
    Use(path);
    const std::string before = Facts(path) + Facts(path + "-wal") + Facts(path + "-shm");
    for (const auto& command : std::vector<std::vector<std::string>>{
             {"secpolicy", "display-objects"}, {"secpolicy", "load-domains", dir},
             {"secpolicy", "check", dir}, {"hostsim", "journal"},
             {"hostsim", "world", "add", "1", "2"}}) {
      const auto result = RunTool(command[0], {command.begin() + 1, command.end()});
      EXPECT_EQ(result.status, 1) << c.name << " " << command[1];
      EXPECT_THAT(result.err, HasSubstr("Error: hostsim state " + path + ": " + c.why + "\n")) << c.name;
      EXPECT_EQ(result.out, "") << c.name << " " << command[1];  // not even a display's heading
    }
    EXPECT_EQ(Facts(path) + Facts(path + "-wal") + Facts(path + "-shm"), before) << c.name;
    EXPECT_FALSE(fs::exists(path + "-journal")) << c.name;
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
  const TestSupport::StagedTools tools;
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
              const auto display = RunTool("secpolicy", {"display-objects"}, tools.Limits());
              const auto write = RunTool("secpolicy", {"load-objects", folder}, tools.Limits());
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

// A reader that may not write sees what a live writer has committed but not
// yet checkpointed into the file.
TEST_F(StateFileTest, ReadOnlyReaderSeesCommitsStillInTheLog) {
  const TestSupport::StagedTools tools;
  const std::string folder = scratch_.MakeDir("live");
  const std::string path = folder + "/state.db";
  ASSERT_EQ(chown(folder.c_str(), kOther, kOther), 0);
  chmod(scratch_.str().c_str(), 0711);
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready) | pipe(done), 0);
  const pid_t writer = fork();
  if (writer == 0) {
    char go = 0;
    if (setgroups(0, nullptr) != 0 || setresgid(kOther, kOther, kOther) != 0 ||
        setresuid(kOther, kOther, kOther) != 0) {
      _exit(99);
    }
    setenv("HOSTSIM_STATE", path.c_str(), 1);
    HostSim::Init();
    HyxCtl::Security::HyxAccessInterfaceImpl().CreateDomain("freshDom", HYXACCESS_QSI_DEFDOM_NONE);
    _exit(write(ready[1], "r", 1) == 1 && read(done[0], &go, 1) == 1 ? 0 : 98);
  }
  char signal = 0;
  ASSERT_EQ(read(ready[0], &signal, 1), 1);
  chmod(path.c_str(), 0400);
  chmod(folder.c_str(), 0500);
  Use(path);
  const std::string out = scratch_.MakeDir("out") + "/seen";
  ASSERT_EQ(chown(fs::path(out).parent_path().c_str(), kOther, kOther), 0);
  EXPECT_EQ(AsOtherUser([&] {
              const auto list = RunTool("secpolicy", {"domain", "list"}, tools.Limits());
              std::ofstream(out) << list.status << " " << list.out << list.err;
              return 0;
            }),
            0);
  ASSERT_EQ(write(done[1], "d", 1), 1);
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_EQ(status, 0);
  std::ifstream in(out);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "0 2\tfreshDom\n");
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
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

// Every reader reports an id that does not fit 32 bits, whichever table
// holds it, before it prints anything.
TEST_F(StateFileTest, IdsBeyondThirtyTwoBitsAreDamageForEveryReader) {
  for (const std::string table : {"domains", "objects"}) {
    for (const std::string id : {"4294967298", "-1"}) {
      const std::string path = scratch_.str() + "/" + table + id + ".db";
      MakeState(path);
      Use(path);
      HyxCtl::Security::HyxAccessInterfaceImpl iface;
      iface.CreateDomain("appDom", HYXACCESS_QSI_DEFDOM_NONE);
      iface.AddLabels({"vmDisk"}, HYXACCESS_LABEL_OBJECT);
      HostSim::State::Forget();
      const std::string name = table == "domains" ? "appDom" : "vmDisk";
      Sql(path, "UPDATE " + table + " SET id = " + id + " WHERE name = '" + name + "';");
      for (const auto& reader :
           {std::vector<std::string>{"display"}, {"display", "--json"}, {"domain", "list"},
            {"display-objects"}, {"domain", "id", "appDom"}, {"load-domains", scratch_.str()}}) {
        const auto result = RunTool("secpolicy", reader);
        EXPECT_EQ(result.status, 1) << table << id << " " << reader[0];
        EXPECT_EQ(result.out, "") << table << id << " " << reader[0];
        EXPECT_THAT(result.err, HasSubstr("Error: hostsim state " + path + ": damaged state: id " + id +
                                          " is not a 32-bit number; run 'hostsim init'\n"))
            << table << id << " " << reader[0];
      }
    }
  }
}

// Readers need no room: on a full file system they read as on a read-only
// one, and only a write fails, saying why.
TEST_F(StateFileTest, ReadersWorkOnAFullFileSystem) {
  const std::string mountPoint = scratch_.MakeDir("full");
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=1m,mode=0755") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here: " << std::strerror(errno);
  }
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  const std::string path = mountPoint + "/state.db";
  MakeState(path);
  Use(path);
  ASSERT_EQ(RunTool("secpolicy", {"domain", "create", "appDom"}).status, 0);
  HostSim::State::Forget();
  {
    std::ofstream fill(mountPoint + "/fill", std::ios::binary);
    const std::string block(4096, 'x');
    while (fill.write(block.data(), block.size()) && fill.flush()) {
    }
  }
  const auto list = RunTool("secpolicy", {"domain", "list"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_EQ(list.out, "2\tappDom\n");
  const auto objects = RunTool("secpolicy", {"display-objects"});
  EXPECT_EQ(objects.status, 0) << objects.err;
  EXPECT_THAT(objects.out, HasSubstr("unlabeled (2)"));
  const auto journal = RunTool("hostsim", {"journal"});
  EXPECT_EQ(journal.status, 0) << journal.err;
  EXPECT_THAT(journal.out, HasSubstr("CreateDomain 2 appDom 0"));
  const auto write = RunTool("secpolicy", {"domain", "create", "bDom"});
  EXPECT_EQ(write.status, 1);
  EXPECT_THAT(write.err, HasSubstr("No space left on device"));
}

}  // namespace
