// The throwaway kernel of a dry run (DryRun in admin.h), and ClearRules.
#include <sqlite3.h>

#include <cstdlib>
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

}  // namespace

void State::CopyInto(sqlite3* target, const std::string& from) {
  // A source this process cannot write opens as any read-only state does.
  const bool writable = StateFile::CheckExisting(from);
  Database source = writable ? Open(from, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW)
                             : Open(from, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOFOLLOW,
                                    StateFile::ReadOnlyUri(from));
  sqlite3_busy_timeout(source.get(), 10000);
  sqlite3_backup* backup = sqlite3_backup_init(target, "main", source.get(), "main");
  if (backup == nullptr) {
    throw HostCtlException("hostsim state " + from + ": cannot copy: " + sqlite3_errmsg(target));
  }
  // One step copies every page inside one read transaction: a snapshot.
  const int stepped = sqlite3_backup_step(backup, -1);
  const int finished = sqlite3_backup_finish(backup);
  if (stepped != SQLITE_DONE || finished != SQLITE_OK) {
    throw HostCtlException("hostsim state " + from + ": cannot copy: " +
                           sqlite3_errstr(stepped != SQLITE_DONE ? stepped : finished));
  }
}

void CopyState(const std::string& from, const std::string& to) {
  Database target = Open(to, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  // A copy to measure or to keep aside needs no durability.
  sqlite3_exec(target.get(), "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF", nullptr, nullptr,
               nullptr);
  State::CopyInto(target.get(), from);
}

DryRun::DryRun() {
  State::UsePrivateCopy(StatePath());
  SetSyslogRunning(false);
  RecordLabelWrites(true);
}

DryRun::~DryRun() {
  RecordLabelWrites(false);
  SetSyslogRunning(std::nullopt);
  State::Forget();
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
