// The throwaway kernel of a dry run (DryRun in admin.h), and ClearRules.
#include <linux/magic.h>
#include <sqlite3.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "hostsim/admin.h"
#include "hostsim/state.h"
#include "hostsim/state_file.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace HostSim {

using HostCtl::Lib::HostCtlException;

namespace {

using Database = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;

// Opens `name` (a path, or a URI for the file `path`).
Database Open(const std::string& path, int flags, const std::string& name = "") {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2((name.empty() ? path : name).c_str(), &db,
                                 flags | SQLITE_OPEN_NOMUTEX, nullptr);
  Database owned(db, sqlite3_close_v2);
  if (rc != SQLITE_OK) {
    throw HostCtlException("hostsim state " + path + ": cannot open: " +
                           (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
  }
  return owned;
}

// The copy is thrown away, so it belongs in memory: on disk its syncs cost
// more than the writes of a small load.
std::string TempRoot() {
  struct statfs info {};
  if (statfs("/dev/shm", &info) == 0 && info.f_type == TMPFS_MAGIC &&
      access("/dev/shm", W_OK | X_OK) == 0) {
    return "/dev/shm";
  }
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
}

void RestoreEnv(const std::optional<std::string>& value) {
  if (value) {
    setenv("HOSTSIM_STATE", value->c_str(), 1);
  } else {
    unsetenv("HOSTSIM_STATE");
  }
}

}  // namespace

void CopyState(const std::string& from, const std::string& to) {
  // The source passes the checks every open of a state makes, and is read
  // only: the copy must not create, convert or checkpoint it. A source this
  // process cannot write opens as any read-only state does.
  const bool writable = StateFile::CheckExisting(from);
  Database source = writable ? Open(from, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW)
                             : Open(from, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW,
                                    StateFile::ReadOnlyUri(from));
  Database target = Open(to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  sqlite3_busy_timeout(source.get(), 10000);
  // A throwaway file needs no durability.
  sqlite3_exec(target.get(), "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF", nullptr, nullptr,
               nullptr);
  sqlite3_backup* backup = sqlite3_backup_init(target.get(), "main", source.get(), "main");
  if (backup == nullptr) {
    throw HostCtlException("hostsim state " + from + ": cannot copy: " +
                           sqlite3_errmsg(target.get()));
  }
  // One step copies every page inside one read transaction: a snapshot.
  const int stepped = sqlite3_backup_step(backup, -1);
  const int finished = sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE || finished != SQLITE_OK) {
    throw HostCtlException("hostsim state " + from + ": cannot copy: " +
                           sqlite3_errstr(stepped != SQLITE_DONE ? stepped : finished));
  }
}

DryRun::DryRun() {
  const std::string source = StatePath();
  std::string pattern = TempRoot() + "/hostsim-dry-run-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw HostCtlException("Cannot make a folder for the dry run in " + pattern);
  }
  folder_ = pattern;
  copy_ = folder_ + "/state.db";
  try {
    CopyState(source, copy_);
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    throw;
  }
  if (const char* env = std::getenv("HOSTSIM_STATE"); env != nullptr) savedState_ = env;
  setenv("HOSTSIM_STATE", copy_.c_str(), 1);
  SetSyslogRunning(false);
  RecordLabelWrites(true);
}

DryRun::~DryRun() {
  RecordLabelWrites(false);
  SetSyslogRunning(std::nullopt);
  // Closed before its files go, so nothing writes into a deleted WAL.
  State::Forget();
  RestoreEnv(savedState_);
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void ClearRules() {
  State::Txn txn(State::Txn::kWrite);
  for (const char* sql : {"DELETE FROM rules", "DELETE FROM file_policies", "DELETE FROM cap_rules",
                          "DELETE FROM param_rules"}) {
    txn.Exec(sql);
  }
  txn.Journal("ClearRules");
  txn.Commit();
}

}  // namespace HostSim
