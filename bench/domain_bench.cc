// Domain load: LoadPolicyDomains against the same kernel writes issued
// straight to the simulated kernel. Display: DisplayPolicyDomains and
// DisplayPolicyObjects to /dev/null against reading the same rows.
#include <cstring>
#include <iostream>
#include <list>
#include <map>
#include <variant>

#include "bench/bench_support.h"
#include "secpolicy/domains/domain_display.h"
#include "secpolicy/domains/domain_loading.h"
#include "secpolicy/labels/object_policy.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/platform/kernel_gate.h"
#include "secpolicy/platform/kernel_records.h"

namespace Bench {

namespace {

using HyxCtl::Security::HyxAccessInterfaceImpl;

// A file rule as the kernel takes it: the path, its resolution, the mask.
struct PathRule {
  std::string path;
  std::uint32_t mask = 0;
};
using Record = std::variant<HyxAccess_SyscallRule, HyxAccess_CapabilityRule,
                            HyxAccess_CapabilityParamRule, HyxAccess_ObjectAccessRule,
                            HyxAccess_DomTransRule, HyxAccess_FileCreationRule,
                            HyxAccess_UnixSockCreationRule, PathRule>;

std::uint32_t Mask(const std::string& letters) {
  std::uint32_t mask = 0;
  for (char c : letters) mask |= c == 'r' ? 0x1u : c == 'w' ? 0x2u : 0x10u;
  return mask;
}

// The records the policy files stand for, built before the timing starts.
// Ids are filled in when the domains exist.
struct Domain {
  std::string name;
  std::uint32_t id = 0;
  std::vector<Record> records;
};

std::vector<Domain> BuildRecords(const std::vector<PlannedDomain>& plan) {
  std::vector<Domain> domains;
  for (const auto& planned : plan) {
    Domain domain{planned.name, 0, {}};
    std::uint32_t line = 2;
    for (const auto& rule : planned.rules) {
      const auto& w = rule.words;
      const bool grant = w.back() == "grant";
      auto header = [&](auto record) {
        record.lineNumber = line;
        record.domainName = planned.name;
        return record;
      };
      switch (rule.keyword[1]) {
        case 's': {
          HyxAccess_SyscallRule r = header(HyxAccess_SyscallRule{});
          r.syscallName = w[0];
          r.grant = grant;
          domain.records.emplace_back(r);
          break;
        }
        case 'c': {
          HyxAccess_CapabilityRule r = header(HyxAccess_CapabilityRule{});
          r.capabilityName = w[0];
          r.grant = grant;
          domain.records.emplace_back(r);
          break;
        }
        case 'p': {
          HyxAccess_CapabilityParamRule r = header(HyxAccess_CapabilityParamRule{});
          r.paramCheck = w[0];
          r.firstArg = w[1];
          r.grant = grant;
          domain.records.emplace_back(r);
          break;
        }
        case 'a': {
          HyxAccess_ObjectAccessRule r = header(HyxAccess_ObjectAccessRule{});
          r.objectName = w[0];
          r.accessType = w[1];
          r.grant = grant;
          domain.records.emplace_back(r);
          break;
        }
        case 'd': {
          HyxAccess_DomTransRule r = header(HyxAccess_DomTransRule{});
          r.objectName = w[0];
          r.targetDomainName = w[1];
          r.event = w[2];
          r.grant = grant;
          domain.records.emplace_back(r);
          break;
        }
        case 'f': {
          HyxAccess_FileCreationRule r = header(HyxAccess_FileCreationRule{});
          r.firstObject = w[0];
          r.secondObject = w[1];
          r.creationKeyword = w[2];
          r.grant = grant;
          domain.records.emplace_back(r);
          break;
        }
        case 'u': {
          HyxAccess_UnixSockCreationRule r = header(HyxAccess_UnixSockCreationRule{});
          r.objectName = w[0];
          r.socketKeyword = w[1];
          r.grant = grant;
          domain.records.emplace_back(r);
          break;
        }
        default: domain.records.emplace_back(PathRule{w[0], Mask(w[1])}); break;
      }
      ++line;
    }
    domains.push_back(std::move(domain));
  }
  return domains;
}

// The kernel writes of a load and nothing else: find or create each domain,
// then one write per record, file rules resolved and sent as a pair.
void WriteStraight(std::vector<Domain>& domains, HyxAccessInterfaceImpl& iface) {
  std::map<std::string, std::uint32_t> ids;
  for (auto& domain : domains) {
    if (!iface.FindDomain(domain.name, &domain.id)) {
      domain.id = iface.CreateDomain(domain.name, HYXACCESS_QSI_DEFDOM_NONE);
    }
    ids[domain.name] = domain.id;
  }
  HyxAccess_FileRule pair[2];
  for (auto& domain : domains) {
    for (auto& record : domain.records) {
      std::visit(
          [&](auto& r) {
            using R = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<R, PathRule>) {
              std::strncpy(pair[0].path, r.path.c_str(), kFileRulePathSize - 1);
              pair[0].path[kFileRulePathSize - 1] = '\0';
              const int resolved = HyxCtl::Kernel::HostPrctl(
                  HyxCtl::Kernel::kResolvePathOption, reinterpret_cast<unsigned long>(pair[0].path),
                  reinterpret_cast<unsigned long>(pair[1].path));
              pair[0].permissions = pair[1].permissions = r.mask;
              std::uint32_t count = 0;
              HyxCtl::Kernel::AccessControlCall(0x405F, 0, domain.id,
                                                reinterpret_cast<std::uintptr_t>(pair),
                                                resolved == 0 ? 2 : 1,
                                                reinterpret_cast<std::uintptr_t>(&count));
            } else {
              r.domainId = domain.id;
              if constexpr (std::is_same_v<R, HyxAccess_SyscallRule>) iface.SetSyscallRule(r);
              if constexpr (std::is_same_v<R, HyxAccess_CapabilityRule>) iface.SetCapabilityRule(r);
              if constexpr (std::is_same_v<R, HyxAccess_CapabilityParamRule>) {
                iface.SetCapabilityParamRule(r);
              }
              if constexpr (std::is_same_v<R, HyxAccess_ObjectAccessRule>) {
                iface.SetObjectAccessRule(r);
              }
              if constexpr (std::is_same_v<R, HyxAccess_DomTransRule>) {
                r.targetDomainId = ids[r.targetDomainName];
                iface.SetDomTransRule(r);
              }
              if constexpr (std::is_same_v<R, HyxAccess_FileCreationRule>) {
                iface.SetFileCreationRule(r);
              }
              if constexpr (std::is_same_v<R, HyxAccess_UnixSockCreationRule>) {
                iface.SetUnixSockCreationRule(r);
              }
            }
          },
          record);
    }
  }
}

unsigned Domains(unsigned multiplier) { return RunSizes().domains * multiplier; }
unsigned Rules(unsigned multiplier) { return Domains(multiplier) * RunSizes().rulesPerDomain; }

void LoadProject(benchmark::State& state, unsigned multiplier) {
  const std::string dir = DomainDir(Domains(multiplier), RunSizes().rulesPerDomain);
  for (auto _ : state) {
    state.PauseTiming();
    FreshState(Domains(multiplier));
    state.ResumeTiming();
    HyxAccessInterfaceImpl iface;
    SecPolicy::LoadPolicyDomains(dir, iface);
  }
  state.SetItemsProcessed(state.iterations() * Rules(multiplier));
}

void LoadBaseline(benchmark::State& state, unsigned multiplier) {
  const auto plan = PlanDomains(Domains(multiplier), RunSizes().rulesPerDomain);
  for (auto _ : state) {
    state.PauseTiming();
    FreshState(Domains(multiplier));
    auto domains = BuildRecords(plan);
    state.ResumeTiming();
    HyxAccessInterfaceImpl iface;
    WriteStraight(domains, iface);
  }
  state.SetItemsProcessed(state.iterations() * Rules(multiplier));
}

void LoadedState(unsigned multiplier) {
  FreshState(Domains(multiplier));
  HyxAccessInterfaceImpl iface;
  SecPolicy::LoadPolicyDomains(DomainDir(Domains(multiplier), RunSizes().rulesPerDomain), iface);
}

void DisplayProject(benchmark::State& state, unsigned multiplier) {
  LoadedState(multiplier);
  for (auto _ : state) {
    StdoutToNull quiet;
    HyxAccessInterfaceImpl iface;
    SecPolicy::DisplayPolicyDomains(iface, "");
    SecPolicy::DisplayPolicyObjects(iface);
  }
  state.SetItemsProcessed(state.iterations() * Rules(multiplier));
}

// Every row the display shows, read through the same kernel library and
// kept, without a word printed.
void DisplayBaseline(benchmark::State& state, unsigned multiplier) {
  LoadedState(multiplier);
  for (auto _ : state) {
    HyxAccessInterfaceImpl iface;
    const std::uint32_t slots = iface.GetMaxDomains();
    std::size_t rows = 0;
    for (std::uint32_t id = 0; id < slots; ++id) {
      std::string name, level;
      std::uint32_t st = 0, refs = 0, worlds = 0;
      HyxAccessQsi_DefaultDom kind = HYXACCESS_QSI_DEFDOM_NONE;
      if (!iface.GetCompleteDomainInfo(id, name, level, st, refs, worlds, kind)) continue;
      std::list<HyxAccess_SyscallRule> s;
      std::list<HyxAccess_CapabilityRule> c;
      std::list<HyxAccess_CapabilityParamRule> p;
      std::list<HyxAccess_ObjectAccessRule> a;
      std::list<HyxAccess_DomTransRule> d;
      std::list<HyxAccess_FileCreationRule> f;
      std::list<HyxAccess_UnixSockCreationRule> u;
      std::list<HyxAccess_FilePathAccessRule> r;
      iface.GetObjectAccessRules(id, a);
      iface.GetCapabilityRules(id, c);
      iface.GetDomTransRules(id, d);
      iface.GetFileCreationRules(id, f);
      iface.GetCapabilityParamRules(id, p);
      iface.GetFilePathAccessRules(id, r);
      iface.GetSyscallRules(id, s);
      iface.GetUnixSockCreationRules(id, u);
      rows += s.size() + c.size() + p.size() + a.size() + d.size() + f.size() + u.size() + r.size();
    }
    rows += iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT).size();
    benchmark::DoNotOptimize(rows);
  }
  state.SetItemsProcessed(state.iterations() * Rules(multiplier));
}

// What the display pays per printed line on top of its reads: one line
// written and flushed, as every display line is.
void LineFlush(benchmark::State& state, unsigned /*multiplier*/) {
  StdoutToNull quiet;
  for (auto _ : state) std::cout << "-s read grant" << std::endl;
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

void RegisterDomains() {
  RegisterSized("display_line_flush", LineFlush, nullptr, 1);
  for (unsigned m : kGrowth) RegisterSized("domain_load", LoadProject, LoadBaseline, m);
  for (unsigned m : kGrowth) RegisterSized("display", DisplayProject, DisplayBaseline, m);
}

}  // namespace Bench
