// The simulated kernel's one SQLite connection per process: opening the
// state as every command but init must, the prepared statements, the
// transactions' bookkeeping, answers kept in memory between commits and the
// writers' lock. Used through state.h and by the state's own sources.
//
// Decisions:
// - One connection per process, opened lazily, shared by every handle, and
//   reopened when StatePath() names another file (tests switch states).
//   10 s busy timeout, statements prepared once per connection. The WAL is
//   checkpointed every 256 pages and cut back to 1 MiB, so a load needs
//   about 1 MiB of free space beyond the state (with 10,000 pages the
//   example host's load grew the log to 2.6 MB; checkpoints much more often
//   than 256 pages cost more in syncs than the writes between them).
// - Every open first passes the checks of state_file.h. A state that this
//   process cannot write (the file or its folder) is opened read-only
//   without creating anything: as immutable when no write-ahead log is
//   pending beside it, else read-only through the existing log. Writes then
//   fail with SQLite's "attempt to write a readonly database"; the writers'
//   lock with "Permission denied". A writable state on a full file system
//   (the open fails for want of room for the log's index) is read the same
//   way; a write transaction then fails with the open's own message.
// - Ids of domains and objects outside 0 to 2^32 - 1 are looked for at
//   every open, so every reader reports them, not only the ones that look
//   such an id up.
// - A private copy (UsePrivateCopy) is an in-memory database: no file, no
//   log, no lock; its stamp counts its own commits.
// - A connection inherited through fork is abandoned, never used or closed
//   by the child (SQLite's rule); a child of a private copy is refused.
// - Writers' lock: an exclusive open-file-description lock (F_OFD_SETLK)
//   on the byte at 2^40 of the state file itself, far from the bytes SQLite
//   locks, so no lock file is created anywhere and the lock dies with its
//   holder. The descriptor stays open until the connection closes (closing
//   a descriptor of the file would drop SQLite's own POSIX locks). A waiter
//   polls every 20 ms and says once, after a second, "hostsim state <path>:
//   waiting for another writer to finish" on standard error. The tools'
//   writing commands and `hostsim init` (once the file exists) take it;
//   readers never do, SQLite's WAL lets them read while a writer writes.
// - Answers served from memory (ObjectId, DomainId, CurrentProfile and the
//   fault probe of TakeFault): each is what one read found, kept while no
//   transaction has committed in any process since. The WAL index header
//   (the -shm file, documented SQLite format) counts committed transactions
//   and is read without a lock, as SQLite's own readers do. A commit of this
//   process that leaves a table alone keeps that table's answers. Inside an
//   open transaction the transaction's own reads answer instead.
// Any SQLite failure becomes HostCtlException "hostsim state <path>: <what>:
// <SQLite's message>", with the system's reason after an I/O error.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "hostsim/profile.h"
#include "hostsim/state.h"

namespace HostSim::State {

// How the write-ahead log is kept small.
inline constexpr char kJournalSetup[] =
    "PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=256; PRAGMA journal_size_limit=1048576;";

struct WalStamp {
  std::uint32_t change = 0;
  std::uint32_t salt1 = 0;
  std::uint32_t salt2 = 0;
  bool operator==(const WalStamp&) const = default;
};

// Tables whose answers are kept in memory; a commit that writes one drops them.
enum Table : unsigned { kObjects = 1, kDomains = 2, kFaults = 4, kMeta = 8 };

// Answers read from one table, valid while the state's stamp is `stamp`.
template <typename Value>
struct Memo {
  unsigned table;
  std::optional<WalStamp> stamp;
  std::unordered_map<std::string, Value> answers;
};

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
  std::optional<WalStamp> Stamp();

  // Opens the state of StatePath() when no transaction is open, as a
  // transaction would.
  void Ready();

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
  void Watch();

  void BeginTracking();

  // Called with the write lock still held; then commits and moves the
  // answers of untouched tables on to the new stamp, provided nothing but
  // this commit happened in between.
  void CommitKeeping();

  void Forget();

  [[noreturn]] void Fail(const std::string& what) const;

  [[noreturn]] void Damaged(const std::string& what) const;
  void Check(int rc, const std::string& what) const;

  // Opens the state of `path` unless it is open already. Every command
  // but init needs an existing state of ours (state_file.h); `forInit`
  // opens a file that init has checked, created or left empty.
  void Use(const std::string& path, bool forInit = false);

  // Why this connection cannot write although the file may be written
  // (empty when it can).
  const std::string& WriteFailure() const { return writeFailure_; }

  void Open(bool writable, bool forInit);

  // Works on an in-memory copy of the state at `path` from now until
  // Close: nothing of it exists outside this process.
  void UsePrivateCopy(const std::string& path);

  // Ids outside 0 to 2^32 - 1 are damage that every reader must report,
  // not only those that happen to look the id up.
  void CheckIds();

  bool HasSchema();

  void Close();

  // The writers' lock: an open-file-description lock on one byte of the
  // state file far from the bytes SQLite locks (decisions in state.h).
  void LockWriters();
  // The same on the state already open, which init has not yet checked.
  void LockOpenWriters();

  void UnlockWriters();

  // A connection inherited through fork must not be used or closed by the
  // child (SQLite's rule): the child forgets it and opens its own.
  void Abandon();

  ~Connection() { Close(); }

  Stmt Prepare(const char* sql);

  void Release(sqlite3_stmt* stmt) { inUse_.erase(stmt); }

  void ExecScript(const char* sql, const std::string& what);

  // The profile of the state; reparsed when another process re-initialised it.
  const Profile& GetProfile();

  sqlite3* db() const { return db_; }
  const Profile& GetKeptProfile() const { return *profile_; }

 private:
  static void OnUpdate(void* self, int, const char*, const char* table, sqlite3_int64);

  void MapShm();

  void OpenShmFd();

  void CloseShmFd();

  void CloseLockFd();

  void Unmap();

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

// This process's connection.
Connection& TheConnection();

}  // namespace HostSim::State
