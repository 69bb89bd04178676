// Costs that must not grow with what the kernel already holds: writing file
// path rules into one domain (one record per call, as a policy load makes
// them) and creating domains one after another. Project side only: the
// figure is the growth of the time per item from 1x to 100x.
#include <cstdio>
#include <cstring>

#include "bench/bench_support.h"
#include "secpolicy/kernelcalls/file_policy_calls.h"
#include "secpolicy/platform/hyx_access.h"

namespace Bench {

namespace {

using HyxCtl::Security::HyxAccessInterfaceImpl;

void FileRules(benchmark::State& state, unsigned multiplier) {
  const unsigned rules = RunSizes().fileRules * multiplier;
  HyxAccess_FileRule record{};
  for (auto _ : state) {
    state.PauseTiming();
    FreshState(1);
    const std::uint32_t domain = HyxAccessInterfaceImpl().CreateDomain("dom00000", HYXACCESS_QSI_DEFDOM_NONE);
    state.ResumeTiming();
    for (unsigned i = 0; i < rules; ++i) {
      std::snprintf(record.path, sizeof record.path, "/var/lib/bench/%08u", i);
      record.permissions = 0x1;
      unsigned int held = 0;
      SecPolicy::AddFilePolicyBatch(0, domain, &record, 1, &held);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * rules);
}

void Domains(benchmark::State& state, unsigned multiplier) {
  const unsigned domains = RunSizes().createdDomains * multiplier;
  for (auto _ : state) {
    state.PauseTiming();
    FreshState(domains);
    HyxAccessInterfaceImpl iface;
    state.ResumeTiming();
    char name[16];
    for (unsigned d = 0; d < domains; ++d) {
      std::snprintf(name, sizeof name, "dom%05u", d);
      iface.CreateDomain(name, HYXACCESS_QSI_DEFDOM_NONE);
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * domains);
}

}  // namespace

void RegisterGrowth() {
  for (unsigned m : kGrowth) RegisterSized("kernel_file_rules", FileRules, nullptr, m);
  for (unsigned m : kGrowth) RegisterSized("kernel_domain_create", Domains, nullptr, m);
}

}  // namespace Bench
