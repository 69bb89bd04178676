// Shared pieces of the benchmarks: run sizes, inputs generated once per run
// in the scratch folder, a fresh simulated kernel, and stdout sent to
// /dev/null for the display figures.
//
// Every figure is registered as "<area>/<size>/project" and
// "<area>/<size>/baseline"; bench/run pairs them by that name.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <vector>

namespace Bench {

// BENCH_SMOKE=1 picks tiny sizes; the multipliers stay 1x, 10x, 100x.
struct Sizes {
  std::size_t parseBytes;        // bytes of the 1x domain policy file
  unsigned domains;              // domains of the 1x domain directory
  unsigned rulesPerDomain;       // rules of every generated domain
  unsigned labelDirs;            // directories of the 1x label tree
  unsigned filesPerDir;          // files in every one of them
  std::vector<unsigned> tardiskPolicies;  // policy files of the pairing rows
  unsigned fileRules;            // file path rules of the 1x kernel_file_rules row
  unsigned createdDomains;       // domains of the 1x kernel_domain_create row
};
const Sizes& RunSizes();
inline constexpr unsigned kGrowth[] = {1, 10, 100};

// BENCH_SCRATCH: where every input lives; removed by bench/run.
const std::string& Scratch();

// A freshly initialised simulated kernel with slots for `domains` domains.
void FreshState(unsigned domains);

// One rule of a generated domain: its keyword and the words after it.
struct PlannedRule {
  std::string keyword;
  std::vector<std::string> words;
};
struct PlannedDomain {
  std::string name;
  std::vector<PlannedRule> rules;
};
// `domains` domains, names in sorted order, `rules` rules each cycling
// through all eight rule types; transitions name the next domain.
std::vector<PlannedDomain> PlanDomains(unsigned domains, unsigned rules);

// Paths of inputs, generated on first use and kept for the run.
std::string PolicyFile(std::size_t bytes);             // one domain file
std::string DomainDir(unsigned domains, unsigned rules);  // PlanDomains as files
// A tree of dirs x files labelled with the initial label, and a fileLabels
// directory mapping the whole tree ("<tree>/* <label>"). Returns the tree,
// after a sync.
std::string LabelTree(unsigned dirs, unsigned files, std::string* mappingDir);

// Points file descriptor 1 at /dev/null for its lifetime.
class StdoutToNull {
 public:
  StdoutToNull();
  ~StdoutToNull();
  StdoutToNull(const StdoutToNull&) = delete;
  StdoutToNull& operator=(const StdoutToNull&) = delete;

 private:
  int saved_;
};

// Repetitions of every figure: its median is what bench/run reports.
int Repetitions();

// Registers "<area>/<N>x/<side>" with real time; `fn` receives the multiplier.
using SizedFn = void (*)(benchmark::State&, unsigned multiplier);
void RegisterSized(const std::string& area, SizedFn project, SizedFn baseline,
                   unsigned multiplier);

void RegisterParse();
void RegisterDomains();
void RegisterLabels();
void RegisterKernel();
void RegisterGrowth();
void RegisterTardisks(bool haveHostRoot);
void RegisterDryRuns(bool haveHostRoot);

}  // namespace Bench
