// The simulated kernel's state: one SQLite database at StatePath(), shared
// by every process that uses the simulated host.
//
// Decisions:
// - Path: $HOSTSIM_STATE when set and not empty, else
//   $XDG_STATE_HOME/hostsim/state.db, else $HOME/.local/state/hostsim/state.db,
//   else /tmp/hostsim-<uid>/state.db. Missing parent folders are created; a
//   missing database is created from the built-in default profile.
// - One connection per process, opened lazily, shared by every handle, and
//   reopened when StatePath() names another file (tests switch states).
//   WAL journal, 10 s busy timeout, statements prepared once per connection.
//   The WAL is checkpointed every 10,000 pages rather than SQLite's 1,000: a
//   policy load makes one transaction per rule, and each checkpoint's sync
//   would otherwise cost more than the writes between two of them.
// - Every kernel operation runs in one transaction (BEGIN IMMEDIATE when it
//   writes), and a write is journaled inside the transaction that makes it.
// - Domain id slots 0 and 1 are never handed out: 1 is the "no label" answer
//   of LookupLabel, which for domains is the domain id. A destroyed domain
//   in which worlds still run is leaked: its slot stays taken.
// - Object label ids come from a counter that starts at 2 and never goes
//   back, so a label removed and defined again gets a fresh id.
// - Answers served from memory (ObjectId, DomainId, CurrentProfile and the
//   fault probe of TakeFault): each is what one read found, kept while no
//   transaction has committed in any process since. The WAL index header
//   (the -shm file, documented SQLite format) counts committed transactions
//   and is read without a lock, as SQLite's own readers do. A commit of this
//   process that leaves a table alone keeps that table's answers. Inside an
//   open transaction the transaction's own reads answer instead.
// Any SQLite failure becomes HostCtlException "hostsim state <path>: ...".
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "hostsim/profile.h"
#include "platform/kernel_gate.h"

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
// writers' lock it held is released.
void Forget();

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
