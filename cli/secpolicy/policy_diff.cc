#include "cli/secpolicy/policy_diff.h"

#include <algorithm>
#include <map>

#include "cli/secpolicy/kernel_rules.h"
#include "hostsim/admin.h"
#include "secpolicy/load/policy_load.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/messages.h"

namespace SecPolicyCli {

namespace {

// What a diff compares, by name: domains with their rules by identity (a
// later rule of the same identity is the one that holds), and objects.
struct Snapshot {
  std::map<std::string, std::map<std::string, KernelRule>> domains;
  std::map<std::string, std::int64_t> objects;
};

Snapshot Take(HyxAccessInterfaceImpl& iface) {
  Snapshot snapshot;
  for (const KernelDomain& domain : ReadDomains(iface)) {
    auto& rules = snapshot.domains[domain.name];
    for (KernelRule& rule : ReadRules(iface, domain.id)) {
      const std::string subject = rule.Subject();
      rules.insert_or_assign(subject, std::move(rule));
    }
  }
  snapshot.objects = iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT);
  return snapshot;
}

std::string LabelName(const std::optional<std::uint32_t>& id,
                      const std::map<std::int64_t, std::string>& names) {
  if (!id) return "(none)";
  const auto found = names.find(*id);
  return found != names.end() ? found->second : "(id " + std::to_string(*id) + ")";
}

void Add(std::vector<Change>& changes, char mark, const std::string& kind,
         std::optional<std::string> domain, const std::string& subject,
         std::optional<std::string> before, std::optional<std::string> after) {
  std::string line = std::string(1, mark) + " " + kind + " ";
  if (domain) line += *domain + ": ";
  if (mark == '~') {
    line += (kind == "rule" ? "" : subject + ": ") + before.value_or("") + " -> " + after.value_or("");
  } else if (kind == "rule") {
    line += mark == '=' ? before.value_or("") : after.value_or("");
  } else {
    line += subject;
  }
  changes.push_back({mark, kind, std::move(domain), subject, std::move(before), std::move(after),
                     std::move(line)});
}

}  // namespace

std::vector<Change> DiffPolicy(const std::string& dir) {
  HostSim::DryRun dryRun;
  HyxAccessInterfaceImpl iface;
  const Snapshot before = Take(iface);
  HostSim::ClearRules();
  try {
    SecPolicy::LoadPolicy(dir);
  } catch (const HostCtl::Lib::HostCtlException& failure) {
    SecPolicy::SecpolicyError(failure.what());  // as `secpolicy load` ends
  }
  const Snapshot after = Take(iface);
  const auto writes = HostSim::TakeRecordedLabelWrites();

  std::vector<Change> changes;
  for (const auto& [name, rules] : after.domains) {
    const auto held = before.domains.find(name);
    if (held == before.domains.end()) Add(changes, '+', "domain", std::nullopt, name, {}, {});
    for (const auto& [subject, rule] : rules) {
      const KernelRule* old = nullptr;
      if (held != before.domains.end()) {
        if (auto found = held->second.find(subject); found != held->second.end()) old = &found->second;
      }
      if (old == nullptr) {
        Add(changes, '+', "rule", name, subject, std::nullopt, rule.Text());
      } else if (old->words != rule.words) {
        Add(changes, '~', "rule", name, subject, old->Text(), rule.Text());
      }
    }
  }
  for (const auto& [name, rules] : before.domains) {
    const auto now = after.domains.find(name);
    if (now == after.domains.end()) {
      Add(changes, '-', "domain", std::nullopt, name, {}, {});
      continue;
    }
    for (const auto& [subject, rule] : rules) {
      // Held in the kernel, not written by the tree: a load leaves it there.
      if (now->second.count(subject) == 0) {
        Add(changes, '=', "rule", name, subject, rule.Text(), rule.Text());
      }
    }
  }

  for (const auto& [name, id] : after.objects) {
    const auto old = before.objects.find(name);
    if (old == before.objects.end()) {
      Add(changes, '+', "object", std::nullopt, name, std::nullopt, std::to_string(id));
    } else if (old->second != id) {
      // Refreshed: removed and defined again under a new id.
      Add(changes, '~', "object", std::nullopt, name, std::to_string(old->second),
          std::to_string(id));
    }
  }
  for (const auto& [name, id] : before.objects) {
    if (after.objects.count(name) == 0) {
      Add(changes, '-', "object", std::nullopt, name, std::to_string(id), std::nullopt);
    }
  }

  std::map<std::int64_t, std::string> namesBefore, namesAfter;
  for (const auto& [name, id] : before.objects) namesBefore[id] = name;
  for (const auto& [name, id] : after.objects) namesAfter[id] = name;
  for (const auto& write : writes) {
    if (write.before && *write.before == write.after) continue;
    const bool tardisk = write.path.rfind("/tardisks/", 0) == 0;
    Add(changes, '~', tardisk ? "tardisk" : "label", std::nullopt, write.path,
        LabelName(write.before, namesBefore), LabelName(write.after, namesAfter));
  }

  std::sort(changes.begin(), changes.end(),
            [](const Change& a, const Change& b) { return a.line < b.line; });
  return changes;
}

}  // namespace SecPolicyCli
