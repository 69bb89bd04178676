// Parsing: ParseFile against a minimal loop with the same containers: a
// 1,024-byte getline, the split into a TokenQueue, the move into the map.
#include <malloc.h>

#include <fstream>
#include <string_view>

#include "bench/bench_support.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace Bench {

namespace {

using SecPolicy::ParsedPolicyFile;
using SecPolicy::TokenQueue;

void Baseline(const std::string& path, ParsedPolicyFile& out) {
  std::ifstream in(path);
  char buffer[1024];
  unsigned int number = 1;
  do {
    buffer[0] = '\0';
    in.getline(buffer, sizeof buffer);
    std::string_view line(buffer);
    line = line.substr(0, line.find('#'));
    TokenQueue tokens;
    while (!line.empty()) {
      const auto space = line.find(' ');
      if (space != 0) tokens.emplace(line.substr(0, space));
      if (space == std::string_view::npos) break;
      line.remove_prefix(space + 1);
    }
    if (!tokens.empty()) out.emplace_hint(out.end(), number, std::move(tokens));
    ++number;
  } while (in.good());
}

template <void (*Parse)(const std::string&, ParsedPolicyFile&)>
void Run(benchmark::State& state, unsigned multiplier) {
  const std::string path = PolicyFile(RunSizes().parseBytes * multiplier);
  std::size_t lines = 0;
  std::size_t held = 0;
  {
    // Faults the heap in first (main keeps it): a first touch of a page
    // costs more here than parsing the lines on it.
    ParsedPolicyFile warm;
    Parse(path, warm);
  }
  for (auto _ : state) {
    // mallinfo2 walks the heap's bins: kept out of the timing.
    state.PauseTiming();
    const std::size_t before = mallinfo2().uordblks;
    state.ResumeTiming();
    ParsedPolicyFile parsed;
    Parse(path, parsed);
    state.PauseTiming();
    held = mallinfo2().uordblks - before;
    lines += parsed.size();
    benchmark::DoNotOptimize(parsed);
    {
      ParsedPolicyFile gone = std::move(parsed);  // freed outside the timing
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(lines));
  state.counters["bytes_per_line"] =
      static_cast<double>(held) / static_cast<double>(lines / state.iterations());
}

void Project(benchmark::State& state, unsigned m) { Run<SecPolicy::ParseFile>(state, m); }
void BaselineRun(benchmark::State& state, unsigned m) { Run<Baseline>(state, m); }

}  // namespace

void RegisterParse() {
  for (unsigned m : kGrowth) RegisterSized("parse", Project, BaselineRun, m);
}

}  // namespace Bench
