// SQLite layer of the simulated kernel (decisions in state.h).
#include "hostsim/state.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "hostsim/admin.h"
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

// How the write-ahead log is kept small (decisions in state.h).
constexpr const char kJournalSetup[] =
    "PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=256; PRAGMA journal_size_limit=1048576;";

// The byte of the state file that the writers' lock takes: beyond the
// range SQLite locks (1 GiB to 1 GiB + 512 bytes).
constexpr off_t kWriterLockByte = off_t{1} << 40;

// Where the WAL index header says how many transactions have committed:
// two copies of a 48-byte header at the start of the -shm file, the writer
// updating the second, then the first. Fields used (32-bit words): the
// change counter at word 2 and the two salts at words 8 and 9.
constexpr std::size_t kHeaderWords = 12;
constexpr std::size_t kChangeWord = 2;
constexpr std::size_t kSaltWord = 8;

struct WalStamp {
  std::uint32_t change = 0;
  std::uint32_t salt1 = 0;
  std::uint32_t salt2 = 0;
  bool operator==(const WalStamp&) const = default;
};

// getpid is a system call, and the pid changes only across fork: it is
// read once and again in a forked child.
std::atomic<pid_t> knownPid{0};

void ForgetPid() { knownPid.store(0); }

pid_t ThisPid() {
  pid_t pid = knownPid.load();
  if (pid == 0) {
    static const bool watching = pthread_atfork(nullptr, nullptr, ForgetPid) == 0;
    pid = getpid();
    if (watching) knownPid.store(pid);
  }
  return pid;
}

// Tables whose answers are kept in memory; a commit that writes one drops them.
enum Table : unsigned { kObjects = 1, kDomains = 2, kFaults = 4, kMeta = 8 };

unsigned TableBit(const char* table) {
  if (std::strcmp(table, "objects") == 0) return kObjects;
  if (std::strcmp(table, "domains") == 0) return kDomains;
  if (std::strcmp(table, "faults") == 0) return kFaults;
  if (std::strcmp(table, "meta") == 0) return kMeta;
  return 0;
}

// Answers read from one table, valid while the state's stamp is `stamp`.
template <typename Value>
struct Memo {
  unsigned table;
  std::optional<WalStamp> stamp;
  std::unordered_map<std::string, Value> answers;
};

}  // namespace

class Connection {
 public:
  std::recursive_mutex mutex;
  int depth = 0;  // open transactions of this process (nested ones join)

  Memo<std::optional<std::uint32_t>> objects{kObjects, {}, {}};
  Memo<std::optional<std::uint32_t>> domains{kDomains, {}, {}};
  Memo<bool> faults{kFaults, {}, {}};  // key "<kernel 0|1><operation>"
  std::optional<WalStamp> profileStamp;

  // The state's commit stamp now; nullopt when it cannot be read, and then
  // nothing is served from memory.
  std::optional<WalStamp> Stamp() {
    if (private_) return WalStamp{privateCommits_, 0, 0};
    if (shm_ == nullptr) MapShm();
    if (shm_ == nullptr) return std::nullopt;
    const volatile std::uint32_t* header = shm_;
    WalStamp first{header[kChangeWord], header[kSaltWord], header[kSaltWord + 1]};
    std::atomic_thread_fence(std::memory_order_seq_cst);
    WalStamp second{header[kHeaderWords + kChangeWord], header[kHeaderWords + kSaltWord],
                    header[kHeaderWords + kSaltWord + 1]};
    // Copies that differ are a write in progress: trust neither.
    if (!(first == second)) return std::nullopt;
    return first;
  }

  // Opens the state of StatePath() when no transaction is open, as a
  // transaction would.
  void Ready() {
    if (depth == 0) Use(StatePath());
  }

  // The answer kept for `key`, or `read()`'s, kept from now on.
  template <typename Value, typename Read>
  Value Remember(Memo<Value>& memo, const std::string& key, Read read) {
    Ready();
    const auto now = depth == 0 ? Stamp() : std::nullopt;
    if (!now) return read();
    if (memo.stamp != now) {
      memo.answers.clear();
      memo.stamp = now;  // read before the answers: a later commit only makes them stale
    }
    if (auto found = memo.answers.find(key); found != memo.answers.end()) return found->second;
    Value answer = read();
    memo.answers.emplace(key, answer);
    return answer;
  }

  // Maps the WAL index once a transaction has made sure it exists, so its
  // descriptor is opened with the database's own rather than at some later
  // lookup.
  void Watch() {
    if (shm_ == nullptr) MapShm();
  }

  void BeginTracking() {
    touched_ = 0;
    wrote_ = false;
  }

  // Called with the write lock still held; then commits and moves the
  // answers of untouched tables on to the new stamp, provided nothing but
  // this commit happened in between.
  void CommitKeeping() {
    const auto before = Stamp();
    ExecScript("COMMIT", "cannot commit");
    if (private_ && wrote_) ++privateCommits_;
    const auto after = Stamp();
    const bool onlyThis = before && after && before->salt1 == after->salt1 &&
                          before->salt2 == after->salt2 &&
                          after->change == before->change + (wrote_ ? 1u : 0u);
    const auto keep = [&](auto& memo) {
      if (onlyThis && memo.stamp == before && (touched_ & memo.table) == 0) memo.stamp = after;
    };
    keep(objects);
    keep(domains);
    keep(faults);
    if (onlyThis && profileStamp == before && (touched_ & kMeta) == 0) profileStamp = after;
    BeginTracking();
  }

  void Forget() {
    for (auto* memo : {&objects, &domains}) {
      memo->stamp.reset();
      memo->answers.clear();
    }
    faults.stamp.reset();
    faults.answers.clear();
    profileStamp.reset();
  }

  [[noreturn]] void Fail(const std::string& what) const {
    std::string text = "hostsim state " + path_ + ": " + what;
    if (db_ != nullptr) {
      text += ": " + std::string(sqlite3_errmsg(db_));
      // The system's reason behind an I/O failure ("No space left on device").
      if (const int err = sqlite3_system_errno(db_); err != 0 && (sqlite3_extended_errcode(db_) & 0xFF) == SQLITE_IOERR) {
        text += " (" + std::string(std::strerror(err)) + ")";
      }
    }
    throw HostCtl::Lib::HostCtlException(text);
  }

  [[noreturn]] void Damaged(const std::string& what) const {
    throw HostCtl::Lib::HostCtlException("hostsim state " + path_ + ": damaged state: " + what +
                                         "; run 'hostsim init'");
  }
  void Check(int rc, const std::string& what) const {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(what);
  }

  // Opens the state of `path` unless it is open already. Every command
  // but init needs an existing state of ours (state_file.h); `forInit`
  // opens a file that init has checked, created or left empty.
  void Use(const std::string& path, bool forInit = false) {
    if (db_ != nullptr && owner_ != ThisPid()) Abandon();
    if (private_) {
      if (db_ == nullptr) {
        throw HostCtl::Lib::HostCtlException("hostsim state " + path_ +
                                             ": a dry run's copy belongs to the process that made it");
      }
      return;
    }
    if (db_ != nullptr && path == path_ && !forInit) return;
    Close();
    path_ = path;
    const bool writable = forInit || StateFile::CheckExisting(path);
    try {
      Open(writable, forInit);
    } catch (const HostCtl::Lib::HostCtlException& failure) {
      // A reader needs no room: on a full file system the state is read as
      // a read-only one is, and a writer meets the failure when it begins.
      if (!writable || forInit || !full_) throw;
      Open(false, false);
      writeFailure_ = failure.what();
    }
  }

  // Why this connection cannot write although the file may be written
  // (empty when it can).
  const std::string& WriteFailure() const { return writeFailure_; }

  void Open(bool writable, bool forInit) {
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX |
                      (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
    const std::string name = writable ? path_ : StateFile::ReadOnlyUri(path_);
    const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
    db_ = db;
    owner_ = ThisPid();
    if (rc != SQLITE_OK) {
      std::string text = "hostsim state " + path_ + ": cannot open: " +
                         (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
      Close();
      throw HostCtl::Lib::HostCtlException(text);
    }
    sqlite3_update_hook(db_, &Connection::OnUpdate, this);
    sqlite3_extended_result_codes(db_, 1);
    try {
      Check(sqlite3_busy_timeout(db_, 10000), "cannot set the busy timeout");
      if (writable) {
        ExecScript(kJournalSetup, "cannot set up the journal");
      }
      // Taken now, with the connection's other descriptors, rather than
      // whenever the first stamp is read (perhaps while descriptors are
      // scarce).
      OpenShmFd();
      if (!forInit) CheckIds();
    } catch (...) {
      const int err = sqlite3_system_errno(db_);
      full_ = err == ENOSPC || err == EDQUOT || sqlite3_extended_errcode(db_) == SQLITE_FULL;
      Close();
      throw;
    }
  }

  // Works on an in-memory copy of the state at `path` from now until
  // Close: nothing of it exists outside this process.
  void UsePrivateCopy(const std::string& path) {
    if (db_ != nullptr && owner_ != ThisPid()) Abandon();
    Close();
    path_ = path;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_ = db;
    owner_ = ThisPid();
    try {
      if (rc != SQLITE_OK) Fail("cannot make a copy in memory");
      CopyInto(db_, path);
      private_ = true;
      sqlite3_update_hook(db_, &Connection::OnUpdate, this);
      sqlite3_extended_result_codes(db_, 1);
      CheckIds();
    } catch (...) {
      Close();
      throw;
    }
  }

  // Ids outside 0 to 2^32 - 1 are damage that every reader must report,
  // not only those that happen to look the id up.
  void CheckIds() {
    for (const char* sql : {"SELECT id FROM domains WHERE id < 0 OR id > 4294967295 LIMIT 1",
                            "SELECT id FROM objects WHERE id < 0 OR id > 4294967295 LIMIT 1"}) {
      Stmt s = Prepare(sql);
      if (s.Step()) s.U32(0);
    }
  }

  bool HasSchema() {
    Stmt stmt = Prepare("SELECT 1 FROM sqlite_master WHERE type='table' AND name='meta'");
    return stmt.Step();
  }

  void Close() {
    if (db_ != nullptr && owner_ != ThisPid()) {
      Abandon();
      private_ = false;
      return;
    }
    for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
    cache_.clear();
    inUse_.clear();
    profile_.reset();
    Unmap();
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
    private_ = false;
    writeFailure_.clear();
    CloseShmFd();
    CloseLockFd();
  }

  // The writers' lock: an open-file-description lock on one byte of the
  // state file far from the bytes SQLite locks (decisions in state.h).
  void LockWriters() {
    Ready();
    // A private copy has no other writer to keep out.
    if (lockDepth_ > 0 || private_) {
      ++lockDepth_;
      return;
    }
    if (lockFd_ < 0) lockFd_ = open(path_.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (lockFd_ < 0) {
      throw HostCtl::Lib::HostCtlException("hostsim state " + path_ + ": cannot lock it for writing: " +
                                           std::strerror(errno));
    }
    struct flock byte {};
    byte.l_type = F_WRLCK;
    byte.l_whence = SEEK_SET;
    byte.l_start = kWriterLockByte;
    byte.l_len = 1;
    const auto start = std::chrono::steady_clock::now();
    bool told = false;
    while (fcntl(lockFd_, F_OFD_SETLK, &byte) != 0) {
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
        throw HostCtl::Lib::HostCtlException("hostsim state " + path_ +
                                             ": cannot lock it for writing: " + std::strerror(errno));
      }
      if (!told && std::chrono::steady_clock::now() - start >= std::chrono::seconds(1)) {
        std::fprintf(stderr, "hostsim state %s: waiting for another writer to finish\n", path_.c_str());
        std::fflush(stderr);
        told = true;
      }
      usleep(20000);
    }
    lockDepth_ = 1;
  }

  void UnlockWriters() {
    if (lockDepth_ == 0 || --lockDepth_ > 0 || lockFd_ < 0) return;
    struct flock byte {};
    byte.l_type = F_UNLCK;
    byte.l_whence = SEEK_SET;
    byte.l_start = kWriterLockByte;
    byte.l_len = 1;
    fcntl(lockFd_, F_OFD_SETLK, &byte);
  }

  // A connection inherited through fork must not be used or closed by the
  // child (SQLite's rule): the child forgets it and opens its own.
  void Abandon() {
    cache_.clear();
    inUse_.clear();
    profile_.reset();
    Unmap();
    db_ = nullptr;
    CloseShmFd();
    // The description is shared with the parent, whose lock it holds:
    // closing the child's descriptor leaves that lock alone.
    CloseLockFd();
  }

  ~Connection() { Close(); }

  Stmt Prepare(const char* sql) {
    auto it = cache_.find(sql);
    if (it != cache_.end() && inUse_.insert(it->second).second) return Stmt(*this, it->second, false);
    sqlite3_stmt* stmt = nullptr;
    Check(sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr),
          std::string("cannot prepare ") + sql);
    if (it != cache_.end()) return Stmt(*this, stmt, true);
    cache_.emplace(sql, stmt);
    inUse_.insert(stmt);
    return Stmt(*this, stmt, false);
  }

  void Release(sqlite3_stmt* stmt) { inUse_.erase(stmt); }

  void ExecScript(const char* sql, const std::string& what) {
    Check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), what);
  }

  // The profile of the state; reparsed when another process re-initialised it.
  const Profile& GetProfile() {
    Stmt gen = Prepare("SELECT value FROM meta WHERE key='generation'");
    if (!gen.Step()) Fail("the state has no profile");
    const std::int64_t generation = gen.Int(0);
    if (!profile_ || generation != generation_) {
      Stmt text = Prepare("SELECT value FROM meta WHERE key='profile'");
      if (!text.Step()) Fail("the state has no profile");
      profile_ = ParseProfile(text.Text(0), path_);
      generation_ = generation;
    }
    return *profile_;
  }

  sqlite3* db() const { return db_; }
  const Profile& GetKeptProfile() const { return *profile_; }

 private:
  static void OnUpdate(void* self, int, const char*, const char* table, sqlite3_int64) {
    auto* conn = static_cast<Connection*>(self);
    conn->touched_ |= TableBit(table);
    conn->wrote_ = true;
  }

  void MapShm() {
    if (db_ == nullptr) return;
    // The descriptor stays open until SQLite has closed the database:
    // closing any descriptor of the file drops every POSIX lock this process
    // holds on it, SQLite's shared-memory locks included, and another
    // process would then reset the shared memory under our feet.
    OpenShmFd();
    if (shmFd_ < 0) return;
    // SQLite writes every page of the index's first 32 KiB region when it
    // makes it; a shorter index is one that an open left unfinished (on a
    // full file system, for one), whose pages may not exist: reading them
    // through a mapping would raise SIGBUS.
    struct stat info {};
    if (fstat(shmFd_, &info) != 0 || info.st_size < 32768) return;
    void* map =
        mmap(nullptr, kHeaderWords * 2 * sizeof(std::uint32_t), PROT_READ, MAP_SHARED, shmFd_, 0);
    if (map != MAP_FAILED) shm_ = static_cast<const std::uint32_t*>(map);
  }

  void OpenShmFd() {
    if (shmFd_ < 0 && !private_) shmFd_ = open((path_ + "-shm").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  }

  void CloseShmFd() {
    if (shmFd_ >= 0) close(shmFd_);
    shmFd_ = -1;
  }

  void CloseLockFd() {
    if (lockFd_ >= 0) close(lockFd_);
    lockFd_ = -1;
    lockDepth_ = 0;
  }

  void Unmap() {
    if (shm_ != nullptr) {
      munmap(const_cast<std::uint32_t*>(shm_), kHeaderWords * 2 * sizeof(std::uint32_t));
    }
    shm_ = nullptr;
    Forget();
  }

  const std::uint32_t* shm_ = nullptr;
  int shmFd_ = -1;
  int lockFd_ = -1;  // on the state file, closed only once SQLite has closed it
  int lockDepth_ = 0;
  unsigned touched_ = 0;
  bool wrote_ = false;
  std::string path_;
  sqlite3* db_ = nullptr;
  pid_t owner_ = 0;
  bool full_ = false;  // the last open failed for want of room
  std::string writeFailure_;
  bool private_ = false;            // an in-memory copy (UsePrivateCopy)
  std::uint32_t privateCommits_ = 0;  // its commits that wrote: its stamp
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
  std::unordered_set<sqlite3_stmt*> inUse_;
  std::optional<Profile> profile_;
  std::int64_t generation_ = 0;
};

namespace {

Connection& TheConnection() {
  static Connection connection;
  return connection;
}

}  // namespace

Stmt::~Stmt() {
  if (stmt_ == nullptr) return;
  if (owned_) {
    sqlite3_finalize(stmt_);
    return;
  }
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  conn_->Release(stmt_);
}

void Stmt::Bind(int index, std::int64_t value) {
  conn_->Check(sqlite3_bind_int64(stmt_, index, value), "cannot bind");
}
void Stmt::Bind(int index, const std::string& value) {
  conn_->Check(sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                 SQLITE_TRANSIENT),
               "cannot bind");
}
void Stmt::Bind(int index, std::nullopt_t) {
  conn_->Check(sqlite3_bind_null(stmt_, index), "cannot bind");
}

bool Stmt::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  conn_->Fail(std::string("cannot run ") + sqlite3_sql(stmt_));
}

void Stmt::Run() {
  while (Step()) {
  }
}

std::int64_t Stmt::Int(int column) const { return sqlite3_column_int64(stmt_, column); }
std::uint32_t Stmt::U32(int column) const {
  const std::int64_t value = sqlite3_column_int64(stmt_, column);
  if (sqlite3_column_type(stmt_, column) != SQLITE_INTEGER || value < 0 || value > 0xFFFFFFFF) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    conn_->Damaged(std::string(sqlite3_column_name(stmt_, column)) + " " + (text ? text : "NULL") +
                   " is not a 32-bit number");
  }
  return static_cast<std::uint32_t>(value);
}
std::string Stmt::Text(int column) const {
  const auto* text = sqlite3_column_text(stmt_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text),
                     static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}
bool Stmt::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

Txn::Txn(Mode mode) : conn_(TheConnection()) {
  conn_.mutex.lock();
  try {
    if (conn_.depth == 0) {
      conn_.Use(StatePath());
      if (mode == kWrite && !conn_.WriteFailure().empty()) {
        throw HostCtl::Lib::HostCtlException(conn_.WriteFailure());
      }
      conn_.ExecScript(mode == kWrite ? "BEGIN IMMEDIATE" : "BEGIN", "cannot begin a transaction");
      conn_.Watch();
      conn_.BeginTracking();
    }
  } catch (...) {
    conn_.mutex.unlock();
    throw;
  }
  ++conn_.depth;
}

Txn::~Txn() {
  if (open_) {
    --conn_.depth;
    if (conn_.depth == 0) sqlite3_exec(conn_.db(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
  conn_.mutex.unlock();
}

void Txn::Commit() {
  if (!open_) return;
  if (conn_.depth == 1) conn_.CommitKeeping();
  open_ = false;
  --conn_.depth;
}

Stmt Txn::Prepare(const char* sql) { return conn_.Prepare(sql); }

void Txn::Journal(const std::string& line) { Exec("INSERT INTO journal(line) VALUES(?)", line); }

const Profile& Txn::profile() { return conn_.GetProfile(); }

std::int64_t Txn::Changes() const { return sqlite3_changes64(conn_.db()); }

void Forget() {
  Connection& conn = TheConnection();
  std::lock_guard lock(conn.mutex);
  conn.Close();
}

void UsePrivateCopy(const std::string& path) {
  Connection& conn = TheConnection();
  std::lock_guard lock(conn.mutex);
  conn.UsePrivateCopy(path);
}

void LockWriters() {
  Connection& conn = TheConnection();
  std::lock_guard lock(conn.mutex);
  conn.LockWriters();
}

void UnlockWriters() {
  Connection& conn = TheConnection();
  std::lock_guard lock(conn.mutex);
  conn.UnlockWriters();
}

void Reset(const std::string& profileText, const Profile& profile) {
  Connection& conn = TheConnection();
  std::lock_guard lock(conn.mutex);
  conn.Use(StatePath(), true);
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

std::optional<FaultHit> TakeFault(const std::string& op, bool kernelCall,
                                  const std::vector<std::string>& args) {
  {
    Connection& conn = TheConnection();
    std::lock_guard lock(conn.mutex);
    const bool possible =
        conn.Remember(conn.faults, (kernelCall ? "1" : "0") + op, [&] {
          Txn probe(Txn::kRead);
          return probe
              .Query("SELECT 1 FROM faults WHERE operation=? AND kernel=? LIMIT 1", op,
                     kernelCall ? 1 : 0)
              .Step();
        });
    if (!possible) return std::nullopt;
  }
  Txn txn(Txn::kWrite);
  std::optional<FaultHit> hit;
  std::int64_t id = 0;
  std::optional<std::int64_t> times;
  {
    Stmt s = txn.Query(
        "SELECT id, message, errnum, status, match, times FROM faults "
        "WHERE operation=? AND kernel=? ORDER BY id",
        op, kernelCall ? 1 : 0);
    while (s.Step()) {
      if (!s.IsNull(4)) {
        const std::string match = s.Text(4);
        bool found = false;
        for (const auto& arg : args) found = found || arg == match;
        if (!found) continue;
      }
      hit = FaultHit{s.Text(1), std::nullopt, std::nullopt};
      if (!s.IsNull(2)) hit->errnum = static_cast<int>(s.Int(2));
      if (!s.IsNull(3)) hit->status = s.U32(3);
      id = s.Int(0);
      if (!s.IsNull(5)) times = s.Int(5);
      break;
    }
  }
  if (!hit) return std::nullopt;
  if (times) {
    if (*times <= 1) {
      txn.Exec("DELETE FROM faults WHERE id=?", id);
    } else {
      txn.Exec("UPDATE faults SET times=times-1 WHERE id=?", id);
    }
  }
  txn.Commit();
  return hit;
}

std::optional<std::uint32_t> ObjectId(const std::string& name) {
  Connection& conn = TheConnection();
  std::lock_guard lock(conn.mutex);
  return conn.Remember(conn.objects, name, [&]() -> std::optional<std::uint32_t> {
    Txn txn(Txn::kRead);
    Stmt s = txn.Query("SELECT id FROM objects WHERE name=?", name);
    if (!s.Step()) return std::nullopt;
    return s.U32(0);
  });
}

std::optional<std::uint32_t> DomainId(const std::string& name) {
  Connection& conn = TheConnection();
  std::lock_guard lock(conn.mutex);
  return conn.Remember(conn.domains, name, [&]() -> std::optional<std::uint32_t> {
    Txn txn(Txn::kRead);
    Stmt s = txn.Query("SELECT id FROM domains WHERE name=?", name);
    if (!s.Step()) return std::nullopt;
    return s.U32(0);
  });
}

const Profile& CurrentProfile() {
  Connection& conn = TheConnection();
  std::lock_guard lock(conn.mutex);
  conn.Ready();
  const auto now = conn.depth == 0 ? conn.Stamp() : std::nullopt;
  if (now && conn.profileStamp == now) return conn.GetKeptProfile();
  Txn txn(Txn::kRead);
  const Profile& profile = txn.profile();
  conn.profileStamp = now;
  return profile;
}

void ControlFault(const std::string& op, const std::vector<std::string>& args) {
  if (auto hit = TakeFault(op, false, args)) throw HostCtl::Lib::HostCtlException(hit->message);
}

std::string Join(const std::vector<std::string>& words) {
  std::string line;
  for (const auto& word : words) {
    if (!line.empty()) line += ' ';
    line += word;
  }
  return line;
}

const char* GrantWord(bool grant) { return grant ? "grant" : "revoke"; }

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

std::vector<std::string> Journal() {
  State::Txn txn(State::Txn::kRead);
  std::vector<std::string> lines;
  State::Stmt s = txn.Query("SELECT line FROM journal ORDER BY seq");
  while (s.Step()) lines.push_back(s.Text(0));
  return lines;
}

std::vector<KlogLine> KernelLog() {
  State::Txn txn(State::Txn::kRead);
  std::vector<KlogLine> lines;
  State::Stmt s = txn.Query("SELECT tag, text FROM klog ORDER BY seq");
  while (s.Step()) lines.push_back({s.Text(0), s.Text(1)});
  return lines;
}

}  // namespace HostSim
