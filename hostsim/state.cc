// Statements, transactions and the lookups answered from memory
// (decisions in state.h and connection.h).
#include "hostsim/state.h"

#include <mutex>

#include "hostsim/admin.h"
#include "hostsim/connection.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace HostSim::State {

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

std::string Join(const std::vector<std::string>& words) {
  std::string line;
  for (const auto& word : words) {
    if (!line.empty()) line += ' ';
    line += word;
  }
  return line;
}

const char* GrantWord(bool grant) { return grant ? "grant" : "revoke"; }

}  // namespace HostSim::State
