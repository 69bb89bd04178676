// The simulated kernel's state: one SQLite database at StatePath(), shared
// by every process that uses the simulated host. Statements and
// transactions (state.cc), creating and resetting a state (state_init.cc),
// the checks on its file (state_file.cc), the connection (connection.cc),
// faults and the journal (faults.cc).
//
// Decisions:
// - Path: $HOSTSIM_STATE when set and not empty; else root's
//   /var/lib/hostsim/state.db; else $XDG_STATE_HOME/hostsim/state.db when
//   that is absolute; else <home>/.local/state/hostsim/state.db, home being
//   $HOME when absolute, else the password database's. Never a shared
//   temporary folder.
// - Only Init creates: it makes the missing folders of the path (mode
//   0700) and the file (0600), marks it with SQLite's application_id
//   0x68737374 and user_version 1 (the schema version) before switching it
//   to WAL, so the marks stand in the file's own first page. It replaces a
//   state of ours in place (one transaction, so open connections of other
//   processes see the new host) and an empty file; another file only with
//   `force`. A -wal or -shm left beside an empty or foreign file is removed
//   first, lest SQLite replay it into the new state.
// - Every other open checks the file before SQLite sees it (state_file.h),
//   reading its header with plain reads, so nothing is written, created or
//   switched: refused are a missing or empty file, one that is not ours
//   (no SQLite header or another application_id), another schema version,
//   a symbolic link or other non-regular file, a file owned by another user
//   (root included) or writable by group or others, and a folder that is
//   owned by someone but this user and root or is writable by group or
//   others without the sticky bit. Also refused, by name, what SQLite would
//   only call "unable to open database file": a symbolic link among the
//   path's folders (the message gives the real path to use instead), and a
//   -wal or -shm beside the file that is a link, not a regular file, or
//   another user's. The message names the path and what to do ("run
//   'hostsim init'").
// - How the state is opened, kept open, read on a full file system or
//   copied into memory, the writers' lock and the answers kept in memory:
//   connection.h.
// - Every kernel operation runs in one transaction (BEGIN IMMEDIATE when it
//   writes), and a write is journaled inside the transaction that makes it.
// - Rules: one row per identity and domain (unique index on domain_id,
//   kind, a, b, c; unused words are ''), written by upsert, so a rewrite
//   replaces the action, line and target id and keeps the rule's place in
//   the order rules are read back (the order of first writes). Identities:
//   syscall (a), capability (a), parameter check (check, first, second),
//   object access (object, access), Unix socket (object, keyword),
//   transition (object, target domain name, event), file creation (parent
//   object, new object, kind). File policies: one per domain, world and
//   resolved path (file path rules are world 0), also replaced in place.
// - Counts of a domain's file policies are kept by triggers on
//   file_policies (table file_policy_counts), so every writer, whatever
//   statements it uses, keeps them right and no count scans the table.
// - Domain id slots 0 and 1 are never handed out: 1 is the "no label" answer
//   of LookupLabel, which for domains is the domain id. A destroyed domain
//   in which worlds still run is leaked: its slot stays taken.
// - Object label ids come from a counter that starts at 2 and never goes
//   back (until a reboot, which restarts it after the predefined objects),
//   so a label removed and defined again gets a fresh id.
// - Ids, masks and counts read from the state must be integers from 0 to
//   2^32 - 1; anything else is reported as a damaged state, never cut.
// Any SQLite failure becomes HostCtlException "hostsim state <path>: <what>:
// <SQLite's message>", with the system's reason after an I/O error.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "hostsim/profile.h"
#include "secpolicy/platform/kernel_gate.h"

namespace HostSim::State {

class Connection;

// A prepared statement, bound and stepped through. A cached one is reset
// when this handle goes out of scope so the cache can hand it out again; a
// statement already in use hands out a private copy instead, finalised here.
class Stmt {
 public:
  Stmt(Connection& conn, sqlite3_stmt* stmt, bool owned)
      : conn_(&conn), stmt_(stmt), owned_(owned) {}
  Stmt(Stmt&& other) noexcept : conn_(other.conn_), stmt_(other.stmt_), owned_(other.owned_) {
    other.stmt_ = nullptr;
  }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  Stmt& operator=(Stmt&&) = delete;
  ~Stmt();

  template <typename... Args>
  Stmt& BindAll(const Args&... args) {
    int index = 0;
    (Bind(++index, args), ...);
    return *this;
  }
  void Bind(int index, std::int64_t value);
  void Bind(int index, const std::string& value);
  void Bind(int index, const char* value) { Bind(index, std::string(value)); }
  void Bind(int index, std::nullopt_t);
  template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, std::int64_t>)
  void Bind(int index, T value) {
    Bind(index, static_cast<std::int64_t>(value));
  }
  template <typename T>
  void Bind(int index, const std::optional<T>& value) {
    if (value) {
      Bind(index, *value);
    } else {
      Bind(index, std::nullopt);
    }
  }

  bool Step();  // true while a row is available
  void Run();   // steps to the end
  std::int64_t Int(int column) const;
  // An unsigned 32-bit value (an id, a mask); anything else in the state
  // is damage and throws "... damaged state ...".
  std::uint32_t U32(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;

 private:
  Connection* conn_;
  sqlite3_stmt* stmt_;
  bool owned_;
};

// One transaction on the process's connection. Rolled back unless
// committed. Also serialises threads of this process on the connection.
class Txn {
 public:
  enum Mode { kRead, kWrite };
  explicit Txn(Mode mode);
  ~Txn();
  Txn(const Txn&) = delete;
  Txn& operator=(const Txn&) = delete;

  template <typename... Args>
  Stmt Query(const char* sql, const Args&... args) {
    Stmt stmt = Prepare(sql);
    stmt.BindAll(args...);
    return stmt;
  }
  template <typename... Args>
  void Exec(const char* sql, const Args&... args) {
    Query(sql, args...).Run();
  }
  // Appends one line to the journal of accepted writes.
  void Journal(const std::string& line);
  const Profile& profile();
  std::int64_t Changes() const;
  void Commit();

 private:
  Stmt Prepare(const char* sql);
  Connection& conn_;
  bool open_ = true;
};

// Served from memory between commits (decisions above). ObjectId and
// DomainId: the label's id, nullopt when there is none.
std::optional<std::uint32_t> ObjectId(const std::string& name);
std::optional<std::uint32_t> DomainId(const std::string& name);
const Profile& CurrentProfile();

// Fills the state at StatePath() afresh from a parsed profile; the file is
// one that Init has checked (ours, or new and empty).
void Reset(const std::string& profileText, const Profile& profile);

// Closes this process's connection (the next transaction reopens it); a
// writers' lock it held is released, a private copy thrown away.
void Forget();

// From now until Forget, this process works on a copy of the state at
// `path` held in its own memory: what it writes reaches neither the file
// nor any other process, and nothing of it outlives the process, however
// that ends. The writers' lock is then a no-op; a forked child that uses
// the state is refused.
void UsePrivateCopy(const std::string& path);

// Copies the state at `from` into the open database `target` with SQLite's
// online backup: one consistent snapshot. `from` must pass the checks of
// every open and is only read, never created, converted or checkpointed.
void CopyInto(sqlite3* target, const std::string& from);

// The writers' lock of the state (nested calls count).
void LockWriters();
void UnlockWriters();

// The forced failure (if any) that the next operation named `op` meets;
// consumes one of its `times`. Called outside any transaction.
struct FaultHit {
  std::string message;
  std::optional<int> errnum;
  std::optional<std::uint32_t> status;
};
std::optional<FaultHit> TakeFault(const std::string& op, bool kernelCall,
                                  const std::vector<std::string>& args);

// Throws the control-library fault set for `op`, if any.
void ControlFault(const std::string& op, const std::vector<std::string>& args = {});

// Helpers for texts and journal lines.
std::string Join(const std::vector<std::string>& words);
const char* GrantWord(bool grant);

}  // namespace HostSim::State
