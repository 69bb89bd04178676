// The process's SQLite connection (decisions in connection.h).
#include "hostsim/connection.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "hostsim/admin.h"
#include "hostsim/state_file.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace HostSim::State {

namespace {

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

unsigned TableBit(const char* table) {
  if (std::strcmp(table, "objects") == 0) return kObjects;
  if (std::strcmp(table, "domains") == 0) return kDomains;
  if (std::strcmp(table, "faults") == 0) return kFaults;
  if (std::strcmp(table, "meta") == 0) return kMeta;
  return 0;
}

}  // namespace

Connection& TheConnection() {
  static Connection connection;
  return connection;
}

std::optional<WalStamp> Connection::Stamp() {
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

void Connection::Ready() {
  if (depth == 0) Use(StatePath());
}

void Connection::Watch() {
  if (shm_ == nullptr) MapShm();
}

void Connection::BeginTracking() {
  touched_ = 0;
  wrote_ = false;
}

void Connection::CommitKeeping() {
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

void Connection::Forget() {
  for (auto* memo : {&objects, &domains}) {
    memo->stamp.reset();
    memo->answers.clear();
  }
  faults.stamp.reset();
  faults.answers.clear();
  profileStamp.reset();
}

[[noreturn]] void Connection::Fail(const std::string& what) const {
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

[[noreturn]] void Connection::Damaged(const std::string& what) const {
  throw HostCtl::Lib::HostCtlException("hostsim state " + path_ + ": damaged state: " + what +
                                       "; run 'hostsim init'");
}

void Connection::Check(int rc, const std::string& what) const {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(what);
}

void Connection::Use(const std::string& path, bool forInit) {
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

void Connection::Open(bool writable, bool forInit) {
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

void Connection::UsePrivateCopy(const std::string& path) {
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

void Connection::CheckIds() {
  for (const char* sql : {"SELECT id FROM domains WHERE id < 0 OR id > 4294967295 LIMIT 1",
                          "SELECT id FROM objects WHERE id < 0 OR id > 4294967295 LIMIT 1"}) {
    Stmt s = Prepare(sql);
    if (s.Step()) s.U32(0);
  }
}

bool Connection::HasSchema() {
  Stmt stmt = Prepare("SELECT 1 FROM sqlite_master WHERE type='table' AND name='meta'");
  return stmt.Step();
}

void Connection::Close() {
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

void Connection::LockWriters() {
  Ready();
  LockOpenWriters();
}

void Connection::LockOpenWriters() {
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

void Connection::UnlockWriters() {
  if (lockDepth_ == 0 || --lockDepth_ > 0 || lockFd_ < 0) return;
  struct flock byte {};
  byte.l_type = F_UNLCK;
  byte.l_whence = SEEK_SET;
  byte.l_start = kWriterLockByte;
  byte.l_len = 1;
  fcntl(lockFd_, F_OFD_SETLK, &byte);
}

void Connection::Abandon() {
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

Stmt Connection::Prepare(const char* sql) {
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

void Connection::ExecScript(const char* sql, const std::string& what) {
  Check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), what);
}

const Profile& Connection::GetProfile() {
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

void Connection::OnUpdate(void* self, int, const char*, const char* table, sqlite3_int64) {
  auto* conn = static_cast<Connection*>(self);
  conn->touched_ |= TableBit(table);
  conn->wrote_ = true;
}

void Connection::MapShm() {
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

void Connection::OpenShmFd() {
  if (shmFd_ < 0 && !private_) shmFd_ = open((path_ + "-shm").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
}

void Connection::CloseShmFd() {
  if (shmFd_ >= 0) close(shmFd_);
  shmFd_ = -1;
}

void Connection::CloseLockFd() {
  if (lockFd_ >= 0) close(lockFd_);
  lockFd_ = -1;
  lockDepth_ = 0;
}

void Connection::Unmap() {
  if (shm_ != nullptr) {
    munmap(const_cast<std::uint32_t*>(shm_), kHeaderWords * 2 * sizeof(std::uint32_t));
  }
  shm_ = nullptr;
  Forget();
}

}  // namespace HostSim::State
