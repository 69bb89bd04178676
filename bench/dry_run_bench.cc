// check and diff against the load they stand for: each runs that very load
// on a throwaway copy of the state (the copy is part of their time), so the
// figure is the load's rate over theirs. On the example host and on the
// 1,000-domain tree of domain_load, both on a host already loaded once, as
// an operator would meet it; every iteration starts from that same state.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "bench/bench_support.h"
#include "secpolicy/admin/policy_check.h"
#include "secpolicy/admin/policy_diff.h"
#include "hostsim/admin.h"
#include "secpolicy/analysis/graph.h"
#include "secpolicy/analysis/lint.h"
#include "secpolicy/analysis/query.h"
#include "secpolicy/load/policy_load.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace Bench {

namespace {

namespace fs = std::filesystem;

const fs::path kPolicyRoot = "/etc/norvane/secpolicy";

void ClearHostRoot() {
  for (const fs::path& folder : {kPolicyRoot, fs::path("/tardisks")}) {
    if (!fs::exists(folder)) continue;
    for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
  }
}

void LoadQuietly(const std::string& dir) {
  try {
    SecPolicy::LoadPolicy(dir);
  } catch (const HostCtl::Lib::HostCtlException&) {
    // Whatever a load reports is part of the work measured.
  }
}

// The example host as examples/host/run-example sets it up; returns DIR.
std::string ExampleHost() {
  const fs::path example = fs::path(SECPOLICY_SOURCE_DIR) / "examples/host";
  ClearHostRoot();
  FreshState(16);
  fs::copy(example / "etc/norvane/secpolicy", kPolicyRoot, fs::copy_options::recursive);
  fs::copy(example / "tardisks", "/tardisks", fs::copy_options::recursive);
  const fs::path files = "/tmp/secpolicy-example/files";
  fs::remove_all(files);
  fs::create_directories(files.parent_path());
  fs::copy(example / "files", files, fs::copy_options::recursive);
  HostSim::MapTardisk(kPolicyRoot / "tardisks/iofilters", "iofilters");
  HostSim::InitFileLabel(files, true);
  HostSim::InitFileLabel("/tardisks", true);
  return SecPolicy::DefaultPolicyDir;
}

// domain_load's 1,000-domain tree (tiny in a smoke run), with the domains a
// whole load needs, no objects and no file labels.
std::string DomainTree() {
  const unsigned domains = RunSizes().domains * 100;
  const std::string source = DomainDir(domains, RunSizes().rulesPerDomain);
  const fs::path dir = Scratch() + "/policy-tree-" + std::to_string(domains);
  if (!fs::exists(dir)) {
    fs::create_directories(dir);
    fs::copy(source, dir / "domains", fs::copy_options::recursive);
    for (const char* special :
         {"globalVMDom", "ioFilterDom", "appDom", "daemonFrameworkDom", "superDom"}) {
      std::ofstream(dir / "domains" / special) << "-s read grant\n";
    }
    fs::create_directories(dir / "objects");
    fs::create_directories(dir / "fileLabels");
  }
  ClearHostRoot();
  FreshState(domains + 8);
  return dir.string();
}

enum class Tree { kExample, kDomains };
enum class Work { kLoad, kCheck, kDiff, kQuery, kLint, kGraph };

void Run(benchmark::State& state, Tree tree, Work work) {
  const std::string dir = tree == Tree::kExample ? ExampleHost() : DomainTree();
  LoadQuietly(dir);
  // The loaded host, kept aside; each iteration works on a copy of it.
  const std::string loaded = Scratch() + "/loaded.db";
  const std::string live = Scratch() + "/live.db";
  std::remove(loaded.c_str());
  HostSim::CopyState(HostSim::StatePath(), loaded);
  for (auto _ : state) {
    state.PauseTiming();
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((live + suffix).c_str());
    HostSim::CopyState(loaded, live);
    setenv("HOSTSIM_STATE", live.c_str(), 1);
    state.ResumeTiming();
    switch (work) {
      case Work::kLoad: LoadQuietly(dir); break;
      case Work::kCheck: benchmark::DoNotOptimize(SecPolicy::Admin::CheckPolicy(dir)); break;
      case Work::kDiff: benchmark::DoNotOptimize(SecPolicy::Admin::DiffPolicy(dir)); break;
      // The tool's whole work: one reading of the tree, then its question.
      case Work::kQuery: {
        SecPolicy::Analysis::QueryOptions options;
        options.match = "read";
        benchmark::DoNotOptimize(Query(SecPolicy::Analysis::ReadTree(dir), options));
        break;
      }
      case Work::kLint: benchmark::DoNotOptimize(Lint(SecPolicy::Analysis::ReadTree(dir))); break;
      case Work::kGraph:
        benchmark::DoNotOptimize(TransitionGraph(SecPolicy::Analysis::ReadTree(dir)));
        break;
    }
  }
  setenv("HOSTSIM_STATE", (Scratch() + "/state.db").c_str(), 1);
  ClearHostRoot();
  state.SetItemsProcessed(state.iterations());
}

void CheckExample(benchmark::State& s, unsigned) { Run(s, Tree::kExample, Work::kCheck); }
void DiffExample(benchmark::State& s, unsigned) { Run(s, Tree::kExample, Work::kDiff); }
void LoadExample(benchmark::State& s, unsigned) { Run(s, Tree::kExample, Work::kLoad); }
void CheckTree(benchmark::State& s, unsigned) { Run(s, Tree::kDomains, Work::kCheck); }
void DiffTree(benchmark::State& s, unsigned) { Run(s, Tree::kDomains, Work::kDiff); }
void LoadTree(benchmark::State& s, unsigned) { Run(s, Tree::kDomains, Work::kLoad); }
void QueryTree(benchmark::State& s, unsigned) { Run(s, Tree::kDomains, Work::kQuery); }
void LintTree(benchmark::State& s, unsigned) { Run(s, Tree::kDomains, Work::kLint); }
void GraphTree(benchmark::State& s, unsigned) { Run(s, Tree::kDomains, Work::kGraph); }

}  // namespace

void RegisterDryRuns(bool haveHostRoot) {
  if (!haveHostRoot) return;  // whole loads need the policy tree at /etc/norvane
  RegisterSized("check_example", CheckExample, LoadExample, 1);
  RegisterSized("diff_example", DiffExample, LoadExample, 1);
  RegisterSized("check_1000_domains", CheckTree, LoadTree, 1);
  RegisterSized("diff_1000_domains", DiffTree, LoadTree, 1);
  // query, the linter and graph against check of the same tree.
  RegisterSized("query_1000_domains", QueryTree, CheckTree, 1);
  RegisterSized("lint_1000_domains", LintTree, CheckTree, 1);
  RegisterSized("graph_1000_domains", GraphTree, CheckTree, 1);
}

}  // namespace Bench
