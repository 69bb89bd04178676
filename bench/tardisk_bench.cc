// Tardisk pairing: every accepted policy is asked for its tardisk again for
// each new policy file, so the cost grows with the square of the number of
// files. The baseline asks the kernel once per file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "bench/bench_support.h"
#include "hostsim/admin.h"
#include "secpolicy/tardisks/tardisk_discovery.h"
#include "secpolicy/tardisks/tardisk_policy.h"

namespace Bench {

namespace {

unsigned Files(unsigned index) { return RunSizes().tardiskPolicies.at(index); }

// N policy files, each shipped by a tardisk of its own under /tardisks/.
std::string Setup(unsigned files) {
  FreshState(1);
  const std::string dir = Scratch() + "/tardisk-policies-" + std::to_string(files);
  mkdir(dir.c_str(), 0755);
  for (unsigned i = 0; i < files; ++i) {
    const std::string name = "t" + std::to_string(i);
    const std::string policy = dir + "/" + name;
    std::ofstream(policy) << "-E systemBinary appDom\n";
    std::ofstream("/tardisks/" + name) << name;
    HostSim::MapTardisk(policy, name);
  }
  return dir;
}

void Project(benchmark::State& state, unsigned index) {
  const std::string dir = Setup(Files(index));
  for (auto _ : state) {
    SecPolicy::TardiskPolicyList policies;
    std::list<std::string> defaults;
    SecPolicy::GetTardiskLists(dir, policies.policies, defaults);
    benchmark::DoNotOptimize(defaults);
  }
  state.SetItemsProcessed(state.iterations() * Files(index));
}

void Baseline(benchmark::State& state, unsigned index) {
  const std::string dir = Setup(Files(index));
  for (auto _ : state) {
    std::set<std::string> claimed;
    DIR* handle = opendir(dir.c_str());
    while (const dirent* entry = readdir(handle)) {
      if (entry->d_type != DT_REG) continue;
      SecPolicy::TardiskPolicy policy(dir + "/" + entry->d_name);
      claimed.insert(policy.GetBackingTardiskPath());
    }
    closedir(handle);
    benchmark::DoNotOptimize(claimed);
  }
  state.SetItemsProcessed(state.iterations() * Files(index));
}

}  // namespace

void RegisterTardisks(bool haveHostRoot) {
  if (!haveHostRoot) return;
  for (unsigned index = 0; index < 3; ++index) {
    const std::string name = "tardisk_pairing/" + std::to_string(Files(index)) + "files/";
    benchmark::RegisterBenchmark((name + "project").c_str(),
                                 [index](benchmark::State& s) { Project(s, index); })
        ->UseRealTime()
        ->Repetitions(Repetitions())
        ->ReportAggregatesOnly(Repetitions() > 1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((name + "baseline").c_str(),
                                 [index](benchmark::State& s) { Baseline(s, index); })
        ->UseRealTime()
        ->Repetitions(Repetitions())
        ->ReportAggregatesOnly(Repetitions() > 1)
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace Bench
