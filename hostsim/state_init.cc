// Where a state lives, and creating or resetting one: its schema and the
// profile it holds (decisions in state.h).
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#include "hostsim/admin.h"
#include "hostsim/connection.h"
#include "hostsim/state_file.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/unique_fd.h"

namespace HostSim {

std::string StatePath() {
  if (const char* env = std::getenv("HOSTSIM_STATE"); env != nullptr && *env != '\0') return env;
  if (geteuid() == 0) return "/var/lib/hostsim/state.db";
  // XDG wants absolute paths; a relative one is ignored.
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/hostsim/state.db";
  }
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && *env == '/') {
    home = env;
  } else if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_dir != nullptr &&
                                                        entry->pw_dir[0] == '/') {
    home = entry->pw_dir;
  } else {
    throw HostCtl::Lib::HostCtlException(
        "hostsim state: no home folder to keep the state in; set HOSTSIM_STATE");
  }
  return home + "/.local/state/hostsim/state.db";
}

namespace State {

namespace {

constexpr const char kSchema[] = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value);
CREATE TABLE domains(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, level TEXT NOT NULL,
                     state INTEGER NOT NULL, default_dom INTEGER NOT NULL);
CREATE TABLE objects(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE,
                     predefined INTEGER NOT NULL);
CREATE TABLE invalid_labels(type INTEGER NOT NULL, name TEXT NOT NULL, PRIMARY KEY(type, name));
CREATE TABLE rules(seq INTEGER PRIMARY KEY, domain_id INTEGER NOT NULL, kind TEXT NOT NULL,
                   line INTEGER NOT NULL, domain_name TEXT NOT NULL, a TEXT, b TEXT, c TEXT,
                   num INTEGER, granted INTEGER NOT NULL);
CREATE INDEX rules_by_domain ON rules(domain_id, kind, seq);
CREATE UNIQUE INDEX rules_identity ON rules(domain_id, kind, a, b, c);
CREATE TABLE file_policies(seq INTEGER PRIMARY KEY, domain_id INTEGER NOT NULL,
                           world INTEGER NOT NULL, path TEXT NOT NULL, mask INTEGER NOT NULL,
                           UNIQUE(domain_id, world, path));
CREATE TABLE file_policy_counts(domain_id INTEGER PRIMARY KEY, n INTEGER NOT NULL);
CREATE TRIGGER file_policy_added AFTER INSERT ON file_policies BEGIN
  INSERT INTO file_policy_counts(domain_id, n) VALUES(NEW.domain_id, 1)
    ON CONFLICT(domain_id) DO UPDATE SET n = n + 1;
END;
CREATE TRIGGER file_policy_removed AFTER DELETE ON file_policies BEGIN
  UPDATE file_policy_counts SET n = n - 1 WHERE domain_id = OLD.domain_id;
END;
CREATE TABLE cap_rules(domain_id INTEGER NOT NULL, cap INTEGER NOT NULL, flag INTEGER NOT NULL,
                       PRIMARY KEY(domain_id, cap));
CREATE TABLE param_rules(domain_id INTEGER NOT NULL, check_id INTEGER NOT NULL,
                         mode INTEGER NOT NULL, value INTEGER NOT NULL, flag INTEGER NOT NULL,
                         PRIMARY KEY(domain_id, check_id, mode));
CREATE TABLE worlds(world INTEGER PRIMARY KEY, domain_id INTEGER NOT NULL);
CREATE TABLE leaked(domain_id INTEGER PRIMARY KEY, name TEXT NOT NULL);
CREATE TABLE special_domains(role TEXT PRIMARY KEY, domain_id INTEGER NOT NULL);
CREATE TABLE hvc_services(domain_id INTEGER NOT NULL, service TEXT NOT NULL,
                          PRIMARY KEY(domain_id, service));
CREATE TABLE tardisk_map(inode INTEGER PRIMARY KEY, name TEXT NOT NULL, size INTEGER,
                         links INTEGER, mode INTEGER, uid INTEGER, gid INTEGER);
CREATE TABLE options(path TEXT PRIMARY KEY, int_value INTEGER, str_value TEXT);
CREATE TABLE config(component TEXT, grp TEXT, owner TEXT, name TEXT, key TEXT, value TEXT,
                    PRIMARY KEY(component, grp, owner, name, key));
CREATE TABLE boot_status(component TEXT, grp TEXT, owner TEXT, name TEXT, status INTEGER,
                         PRIMARY KEY(component, grp, owner, name));
CREATE TABLE klog(seq INTEGER PRIMARY KEY, tag TEXT NOT NULL, text TEXT NOT NULL);
CREATE TABLE journal(seq INTEGER PRIMARY KEY, line TEXT NOT NULL);
CREATE TABLE faults(id INTEGER PRIMARY KEY, operation TEXT NOT NULL, kernel INTEGER NOT NULL,
                    message TEXT NOT NULL, errnum INTEGER, status INTEGER, match TEXT,
                    times INTEGER);
)sql";

}  // namespace

void Reset(const std::string& profileText, const Profile& profile) {
  Connection& conn = TheConnection();
  std::lock_guard lock(conn.mutex);
  conn.Use(StatePath(), true);
  // A load or another init writing now finishes first.
  conn.LockOpenWriters();
  struct Unlock {
    Connection& c;
    ~Unlock() { c.UnlockWriters(); }
  } unlock{conn};
  // The marks go first: on a new file they are written before the switch to
  // the write-ahead log, so the file's own first page carries them.
  conn.ExecScript(("PRAGMA application_id=" + std::to_string(StateFile::kApplicationId) +
                   "; PRAGMA journal_mode=WAL; " + kJournalSetup)
                      .c_str(),
                  "cannot mark the state");
  conn.ExecScript("BEGIN IMMEDIATE", "cannot begin a transaction");
  ++conn.depth;
  struct Guard {
    Connection& c;
    bool done = false;
    ~Guard() {
      --c.depth;
      if (!done) sqlite3_exec(c.db(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
  } guard{conn};
  std::vector<std::string> tables;
  {
    Stmt s = conn.Prepare("SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite%'");
    while (s.Step()) tables.push_back(s.Text(0));
  }
  for (const auto& table : tables) {
    std::string quoted = "\"";
    for (char c : table) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    conn.ExecScript(("DROP TABLE " + quoted + "\"").c_str(), "cannot clear the state");
  }
  conn.ExecScript(kSchema, "cannot create the state");
  conn.ExecScript(("PRAGMA user_version=" + std::to_string(StateFile::kSchemaVersion)).c_str(),
                  "cannot mark the state");
  std::random_device random;
  const std::int64_t generation = (std::int64_t{random()} << 20) ^ random();
  conn.Prepare("INSERT INTO meta(key, value) VALUES('profile', ?)").BindAll(profileText).Run();
  conn.Prepare("INSERT INTO meta(key, value) VALUES('generation', ?)").BindAll(generation).Run();
  conn.Prepare("INSERT INTO meta(key, value) VALUES('free_slot', 2)").Run();
  conn.Prepare("INSERT INTO meta(key, value) VALUES('next_object_id', ?)")
      .BindAll(2 + static_cast<std::int64_t>(profile.predefinedObjects.size()))
      .Run();
  std::int64_t id = 2;
  for (const auto& name : profile.predefinedObjects) {
    conn.Prepare("INSERT INTO objects(id, name, predefined) VALUES(?, ?, 1)").BindAll(id++, name).Run();
  }
  conn.ExecScript("COMMIT", "cannot commit");
  guard.done = true;
  // So that a reader of the file's first page sees the new schema version.
  sqlite3_wal_checkpoint_v2(conn.db(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  conn.Forget();
  conn.Watch();
}

}  // namespace State

namespace {

constexpr std::size_t kMaxProfileBytes = std::size_t{16} << 20;

std::string ReadProfile(const std::string& path) {
  const auto fail = [&](const std::string& why) -> std::string {
    throw HostCtl::Lib::HostCtlException("Bad host profile " + path + ": " + why);
  };
  const Posix::UniqueFd file(open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
  const int fd = file.get();
  if (fd < 0) return fail(std::string("cannot read the file: ") + std::strerror(errno));
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(std::string("cannot read the file: ") + std::strerror(errno));
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    if (text.size() > kMaxProfileBytes) return fail("larger than 16 MiB");
  }
  return text;
}

// Creates the missing folders of the state's path, for its owner only.
void MakeFolders(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::filesystem::path made;
  for (const auto& part : folder) {
    made /= part;
    if (mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
      throw HostCtl::Lib::HostCtlException("hostsim state " + path + ": cannot create the folder " +
                                           made.string() + ": " + std::strerror(errno));
    }
  }
}

}  // namespace

void Init(const std::string& profilePath, bool force) {
  const std::string text = profilePath.empty() ? std::string(kDefaultProfile) : ReadProfile(profilePath);
  const Profile profile = ParseProfile(text, profilePath.empty() ? "(built-in default)" : profilePath);
  const std::string path = StatePath();
  // Closing any descriptor of the file drops every POSIX lock this process
  // holds on it, the open connection's too; a connection without its lock
  // lets another process that closes last delete the WAL under it, and this
  // process's later writes would go to the deleted file. So the connection
  // is closed before the file is looked at.
  State::Forget();
  MakeFolders(path);
  switch (StateFile::Inspect(path)) {
    case StateFile::Found::kForeign:
      if (!force) {
        throw HostCtl::Lib::HostCtlException(
            "hostsim state " + path +
            ": not a simulated host's state; 'hostsim init --force' replaces it");
      }
      [[fallthrough]];
    case StateFile::Found::kEmpty:
      // A log left beside an empty or foreign file must not be replayed into the new state.
      for (const char* suffix : {"", "-wal", "-shm"}) unlink((path + suffix).c_str());
      [[fallthrough]];
    case StateFile::Found::kMissing: {
      const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      const int err = errno;
      if (fd >= 0) {
        close(fd);
      } else if (err != EEXIST || StateFile::Inspect(path) == StateFile::Found::kForeign) {
        throw HostCtl::Lib::HostCtlException("hostsim state " + path + ": cannot create: " +
                                             std::strerror(err));
      }
      break;
    }
    case StateFile::Found::kOurs: break;
  }
  State::Reset(text, profile);
}

void CheckState() { const State::Txn txn(State::Txn::kRead); }

}  // namespace HostSim
