#include "secpolicy/admin/policy_diff.h"

#include <algorithm>
#include <functional>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>

#include "secpolicy/admin/kernel_rules.h"
#include "hostsim/admin.h"
#include "secpolicy/labels/label_tree.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/policytext/policy_file_reader.h"

namespace SecPolicy::Admin {

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

constexpr char kNoLabel[] = "(no label)";
constexpr char kNoObject[] = "(no such object)";

std::string LabelName(const std::optional<std::uint32_t>& id,
                      const std::map<std::int64_t, std::string>& names) {
  if (!id) return kNoLabel;
  const auto found = names.find(*id);
  return found != names.end() ? found->second : "(id " + std::to_string(*id) + ")";
}

void Add(std::vector<Change>& changes, char mark, const std::string& kind,
         std::optional<std::string> domain, const std::string& subject,
         std::optional<std::string> before, std::optional<std::string> after) {
  std::string line = std::string(1, mark) + " " + kind + " ";
  if (domain) line += *domain + ": ";
  if (mark == '~' || mark == '!') {
    line += (kind == "rule" ? "" : subject + ": ") + before.value_or("") + " -> " + after.value_or("");
  } else if (kind == "rule") {
    line += mark == '=' ? before.value_or("") : after.value_or("");
  } else {
    line += subject;
  }
  changes.push_back({mark, kind, std::move(domain), subject, std::move(before), std::move(after),
                     std::move(line)});
}

// The mappings of the tree's fileLabels folder that name one of `labels`,
// read line by line: the load stops reading a file at the first such line,
// since the object is gone by then.
std::vector<std::pair<std::string, bool>> MappingsNaming(const std::string& dir,
                                                         const std::set<std::string>& labels) {
  std::vector<std::pair<std::string, bool>> found;  // path, recursive
  SecPolicy::PolicyFileList files;
  try {
    SecPolicy::GetFileList(dir + "/" + SecPolicy::FileLabelsDirName, files);
  } catch (const HostCtl::Lib::HostCtlException&) {
    return found;  // the load reported it
  }
  for (const auto& [path, name] : files) {
    SecPolicy::ParsedPolicyFile lines;
    try {
      SecPolicy::ParseFile(path, lines);
    } catch (const HostCtl::Lib::HostCtlException&) {
      continue;
    }
    for (auto& [number, tokens] : lines) {
      if (tokens.size() != 2) continue;
      std::string spec = tokens.front();
      tokens.pop();
      if (labels.count(tokens.front()) == 0) continue;
      const std::size_t star = spec.find("/*");
      if (star == std::string::npos) {
        found.emplace_back(spec, false);
      } else if (star + 2 == spec.size()) {
        found.emplace_back(spec.substr(0, star), true);
      }
    }
  }
  return found;
}

// Files that keep the id of an object the load removes: their label then
// names nothing. `visit` gets each entry's shown path and id, walked as a
// recursive mapping walks (no link below the top followed).
void WalkIds(SecPolicy::LabelTreeDir dir,
             const std::function<void(const std::string&, std::optional<std::uint32_t>)>& visit) {
  visit(dir.path(), SecPolicy::GetFileLabelIdAt(dir, ""));
  while (const dirent* entry = dir.Next()) {
    const std::string name = entry->d_name;
    if (entry->d_type == DT_DIR) {
      if (auto sub = dir.OpenChild(name.c_str())) WalkIds(std::move(*sub), visit);
    } else {
      visit(dir.ChildPath(name.c_str()), SecPolicy::GetFileLabelIdAt(dir, name.c_str()));
    }
  }
}

void AddDangling(std::vector<Change>& changes, const std::string& dir, const Snapshot& before,
                 const Snapshot& after, const std::set<std::string>& written) {
  std::set<std::string> removed;
  std::map<std::int64_t, std::string> goneIds;
  for (const auto& [name, id] : before.objects) {
    if (after.objects.count(name) == 0) removed.insert(name);
  }
  if (removed.empty()) return;
  std::set<std::int64_t> kept;
  for (const auto& [name, id] : after.objects) kept.insert(id);
  for (const auto& [name, id] : before.objects) {
    if (kept.count(id) == 0) goneIds.emplace(id, name);
  }
  std::set<std::string> seen;
  const auto visit = [&](const std::string& path, std::optional<std::uint32_t> id) {
    if (!id || written.count(path) != 0 || !seen.insert(path).second) return;
    if (const auto gone = goneIds.find(*id); gone != goneIds.end()) {
      Add(changes, '~', "label", std::nullopt, path, gone->second, kNoObject);
    }
  };
  for (const auto& [path, recursive] : MappingsNaming(dir, removed)) {
    try {
      if (!recursive) {
        visit(path, SecPolicy::GetFileLabelIdByName(path));
      } else if (auto top = SecPolicy::LabelTreeDir::OpenTop(path)) {
        WalkIds(std::move(*top), visit);
      }
    } catch (const HostCtl::Lib::HostCtlException&) {
      // A file that cannot be read: nothing to say about its label.
    }
  }
}

// Writes the load attempts and the kernel refuses because the file carries
// no label attribute to replace: "Unable to set file label (L) for file P:
// <ENODATA text>" in the load's errors.
void AddUnlabelled(std::vector<Change>& changes, const std::vector<Finding>& errors) {
  static const std::string kHead = "Unable to set file label (";
  static const std::string kMiddle = ") for file ";
  const std::string tail = std::string(": ") + std::strerror(ENODATA);
  std::set<std::string> seen;
  for (const Finding& error : errors) {
    const std::string& text = error.text;
    const std::size_t head = text.find(kHead);
    if (head == std::string::npos || !text.ends_with(tail)) continue;
    const std::size_t middle = text.find(kMiddle, head + kHead.size());
    if (middle == std::string::npos || middle + kMiddle.size() > text.size() - tail.size()) continue;
    const std::string label = text.substr(head + kHead.size(), middle - head - kHead.size());
    const std::string path = text.substr(middle + kMiddle.size(),
                                         text.size() - tail.size() - middle - kMiddle.size());
    if (!seen.insert(path).second) continue;
    Add(changes, '!', path.starts_with("/tardisks/") ? "tardisk" : "label", std::nullopt, path,
        kNoLabel, label);
  }
}

}  // namespace

DiffReport DiffPolicy(const std::string& dir) {
  HostSim::DryRun dryRun;
  HyxAccessInterfaceImpl iface;
  const Snapshot before = Take(iface);
  HostSim::ClearRules();
  const LoadRun run = RunLoad(dir, iface);
  const Snapshot after = Take(iface);
  const auto writes = HostSim::TakeRecordedLabelWrites();
  DiffReport report;
  report.errors = ExamineLoad(dir, iface, run).errors;
  report.loadFails = run.failed || !report.errors.empty();

  std::vector<Change>& changes = report.changes;
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
  std::set<std::string> written;
  for (const auto& write : writes) {
    written.insert(write.path);
    if (write.before && *write.before == write.after) continue;
    const bool tardisk = write.path.rfind("/tardisks/", 0) == 0;
    Add(changes, '~', tardisk ? "tardisk" : "label", std::nullopt, write.path,
        LabelName(write.before, namesBefore), LabelName(write.after, namesAfter));
  }

  AddDangling(changes, dir, before, after, written);
  AddUnlabelled(changes, report.errors);

  std::sort(changes.begin(), changes.end(),
            [](const Change& a, const Change& b) { return a.line < b.line; });
  return report;
}

}  // namespace SecPolicy::Admin
