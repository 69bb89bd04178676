// The benchmark program. Sizes and the scratch folder come from bench/run
// (BENCH_SMOKE, BENCH_SCRATCH); the simulated state lives in the scratch
// folder. The tardisk rows need a private host root, hence privilege.
#include <malloc.h>
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_support.h"
#include "hostsim/admin.h"
#include "secpolicy/platform/host_ctl_exception.h"

int main(int argc, char** argv) {
  // Freed memory stays with the process, so that every iteration of a
  // figure works on pages already faulted in, whichever side ran before.
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  const std::string scratch = Bench::Scratch();
  setenv("HOSTSIM_STATE", (scratch + "/state.db").c_str(), 1);
  bool hostRoot = true;
  try {
    // Before any thread exists, as the host root requires.
    mkdir((scratch + "/hostroot").c_str(), 0755);
    HostSim::EnterHostRoot(scratch + "/hostroot");
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    std::fprintf(stderr, "tardisk pairing and dry-run rows skipped: %s\n", failure.what());
    hostRoot = false;
  }
  benchmark::Initialize(&argc, argv);
  Bench::RegisterParse();
  Bench::RegisterDomains();
  Bench::RegisterLabels();
  Bench::RegisterKernel();
  Bench::RegisterDryRuns(hostRoot);
  Bench::RegisterGrowth();
  Bench::RegisterTardisks(hostRoot);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
