// The simulated kernel itself: one rule write, one label lookup, one keyword
// validation, against raw prepared SQLite statements on a database of the
// same kind (WAL, synchronous=NORMAL, the same checkpoint interval, the same
// table and index).
#include <sqlite3.h>

#include <stdexcept>

#include "bench/bench_support.h"
#include "secpolicy/platform/hyx_access.h"

namespace Bench {

namespace {

using HyxCtl::Security::HyxAccessInterfaceImpl;

class RawDb {
 public:
  RawDb() {
    const std::string path = Scratch() + "/raw.db";
    std::remove(path.c_str());
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("raw db");
    Exec(
        "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA wal_autocheckpoint=256;"
        "PRAGMA journal_size_limit=1048576;"
        "CREATE TABLE objects(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE,"
        "                     predefined INTEGER NOT NULL);"
        "INSERT INTO objects VALUES(2, 'unlabeled', 1), (3, 'tardiskDefault', 1),"
        "                          (4, 'systemFile', 1), (5, 'systemBinary', 1);"
        "CREATE TABLE rules(seq INTEGER PRIMARY KEY, domain_id INTEGER NOT NULL,"
        "                   kind TEXT NOT NULL, line INTEGER NOT NULL,"
        "                   domain_name TEXT NOT NULL, a TEXT, b TEXT, c TEXT, num INTEGER,"
        "                   granted INTEGER NOT NULL);"
        "CREATE INDEX rules_by_domain ON rules(domain_id, kind, seq);"
        "CREATE UNIQUE INDEX rules_identity ON rules(domain_id, kind, a, b, c);"
        "CREATE TABLE journal(seq INTEGER PRIMARY KEY, line TEXT NOT NULL);");
  }
  ~RawDb() {
    for (sqlite3_stmt* stmt : {insert_, journal_, select_}) sqlite3_finalize(stmt);
    sqlite3_close(db_);
  }
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;

  void Exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db_));
    }
  }
  // One committed rule row (an upsert, the kernel holding one rule per
  // identity), as a kernel write must be; with `journal`, also
  // the journal line the simulated kernel keeps of every write.
  void Insert(int line, bool journal) {
    if (insert_ == nullptr) {
      sqlite3_prepare_v2(db_,
                         "INSERT INTO rules(domain_id, kind, line, domain_name, a, b, c, granted) "
                         "VALUES(2, 'syscall', ?, 'dom00000', 'openat', '', '', 1) "
                         "ON CONFLICT(domain_id, kind, a, b, c) DO UPDATE SET line=excluded.line, "
                         "granted=excluded.granted",
                         -1, &insert_, nullptr);
      sqlite3_prepare_v2(db_, "INSERT INTO journal(line) VALUES(?)", -1, &journal_, nullptr);
    }
    Exec("BEGIN IMMEDIATE");
    sqlite3_bind_int(insert_, 1, line);
    sqlite3_step(insert_);
    sqlite3_reset(insert_);
    if (journal) {
      static const char kLine[] = "SetSyscallRule 2 dom00000 openat grant";
      sqlite3_bind_text(journal_, 1, kLine, -1, SQLITE_STATIC);
      sqlite3_step(journal_);
      sqlite3_reset(journal_);
    }
    Exec("COMMIT");
  }
  std::int64_t Select(const char* name) {
    if (select_ == nullptr) {
      sqlite3_prepare_v2(db_, "SELECT id FROM objects WHERE name=?", -1, &select_, nullptr);
    }
    sqlite3_bind_text(select_, 1, name, -1, SQLITE_STATIC);
    const std::int64_t id = sqlite3_step(select_) == SQLITE_ROW ? sqlite3_column_int64(select_, 0) : 1;
    sqlite3_reset(select_);
    return id;
  }

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* journal_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
};

void WriteProject(benchmark::State& state) {
  FreshState(1);
  HyxAccessInterfaceImpl iface;
  HyxAccess_SyscallRule rule;
  rule.domainId = iface.CreateDomain("dom00000", HYXACCESS_QSI_DEFDOM_NONE);
  rule.domainName = "dom00000";
  rule.syscallName = "openat";
  rule.grant = true;
  for (auto _ : state) {
    ++rule.lineNumber;
    iface.SetSyscallRule(rule);
  }
  state.SetItemsProcessed(state.iterations());
}

template <bool Journal>
void WriteBaseline(benchmark::State& state) {
  RawDb db;
  int line = 0;
  for (auto _ : state) db.Insert(++line, Journal);
  state.SetItemsProcessed(state.iterations());
}

void LookupProject(benchmark::State& state) {
  FreshState(1);
  HyxAccessInterfaceImpl iface;
  for (auto _ : state) {
    benchmark::DoNotOptimize(iface.LookupLabel("systemFile", HYXACCESS_LABEL_OBJECT));
  }
  state.SetItemsProcessed(state.iterations());
}

void ValidateProject(benchmark::State& state) {
  FreshState(1);
  HyxAccessInterfaceImpl iface;
  for (auto _ : state) {
    benchmark::DoNotOptimize(iface.ValidateKeyword(HYXACCESS_KEYWORD_OBJECT, "systemFile"));
  }
  state.SetItemsProcessed(state.iterations());
}

void SelectBaseline(benchmark::State& state) {
  RawDb db;
  for (auto _ : state) benchmark::DoNotOptimize(db.Select("systemFile"));
  state.SetItemsProcessed(state.iterations());
}

void Register(const char* name, void (*fn)(benchmark::State&)) {
  benchmark::RegisterBenchmark(name, fn)
      ->UseRealTime()
      ->Repetitions(Repetitions())
      ->ReportAggregatesOnly(Repetitions() > 1)
      ->Unit(benchmark::kMicrosecond);
}

}  // namespace

void RegisterKernel() {
  Register("kernel_rule_write/1x/project", WriteProject);
  Register("kernel_rule_write/1x/baseline", WriteBaseline<false>);
  Register("kernel_rule_write_journaled/1x/project", WriteProject);
  Register("kernel_rule_write_journaled/1x/baseline", WriteBaseline<true>);
  Register("kernel_label_lookup/1x/project", LookupProject);
  Register("kernel_label_lookup/1x/baseline", SelectBaseline);
  Register("kernel_keyword_validation/1x/project", ValidateProject);
  Register("kernel_keyword_validation/1x/baseline", SelectBaseline);
}

}  // namespace Bench
