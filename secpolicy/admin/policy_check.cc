#include "secpolicy/admin/policy_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>

#include "hostsim/admin.h"
#include "secpolicy/admin/quiet_errors.h"
#include "secpolicy/analysis/policy_model.h"
#include "secpolicy/load/policy_load.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/platform/unique_fd.h"

namespace SecPolicy::Admin {

namespace {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;
using SecPolicy::Admin::QuietErrors;

// The reader keeps this much of a line; a longer line ends its file.
constexpr std::size_t kLongestLine = 1023;
constexpr char kDomainParseError[] = "Error in parsing policy for domain: ";
constexpr char kDomainSetError[] = "Error in setting policy for domain: ";


// Where the load's reports belong, from the policy model: its bad lines by
// the library's text of them, which is what the load reports too; its
// domains by name; and its rules, mappings and tardisk policies by the text
// a failed write of each starts with.
class Places {
 public:
  explicit Places(const Analysis::Model& model) : model_(model) {
    for (const auto& domain : model.domains) owners_.emplace(domain.source.path, domain.name);
    for (const auto& problem : model.problems) {
      if (!problem.unread && problem.source.line != 0) byText_.emplace(problem.text, &problem);
    }
  }

  // The bad line the load reported as `text`, of the file `path` when the
  // load named it in a line of its own. Each problem answers once: the load
  // reports them in the order the model read them, and two files may fail
  // with the same unlocated text.
  std::optional<Finding> Locate(const std::string& text, const std::string* path = nullptr) {
    auto [at, end] = byText_.equal_range(text);
    while (at != end && path != nullptr && at->second->source.path != *path) ++at;
    if (at == end) return std::nullopt;
    const Finding found = Place(*at->second);
    byText_.erase(at);
    return found;
  }

  // A problem as a finding, the cause without the file and line the text
  // starts with. Object and file-label lines read "<file>:<line> : <cause>";
  // domain lines, and tardisk policy lines, which the domain rules parse,
  // "Error in parsing policy for domain: <domain or file>: <line> : <cause>";
  // a mapping's unknown label comes without either.
  Finding Place(const Analysis::Problem& problem) const {
    const Analysis::Source& at = problem.source;
    const std::string line = std::to_string(at.line);
    const auto owner = owners_.find(at.path);
    for (const std::string& prefix :
         {at.path + ":" + line + " : ",
          kDomainParseError + (owner != owners_.end() ? owner->second : at.path) + ": " + line + " : "}) {
      if (problem.text.starts_with(prefix)) {
        return {at.path, at.line, problem.text.substr(prefix.size()), "SP101"};
      }
    }
    return {at.path, at.line, problem.text, "SP101"};
  }

  // "<prefix><domain><suffix>": the domain's file.
  std::optional<std::string> DomainNamed(const std::string& text, const std::string& prefix,
                                         const std::string& suffix, bool suffixEnds) const {
    if (!text.starts_with(prefix)) return std::nullopt;
    for (const auto& [path, name] : owners_) {
      if (text.compare(prefix.size(), name.size(), name) != 0) continue;
      const std::size_t at = prefix.size() + name.size();
      if (suffixEnds ? text.substr(at) == suffix : text.compare(at, suffix.size(), suffix) == 0) {
        return path;
      }
    }
    return std::nullopt;
  }

  // A failed write, placed at the line that asked for it: a domain rule's
  // "Error in setting policy for domain: <domain>: <line> : <cause>" (kept
  // whole, as the load says it), or a mapping's or tardisk policy's
  // "<file>:<line> : <cause>" (the cause alone). Names and paths may hold
  // " : ", so each " : " of the text ends a candidate; the longest that is a
  // line of the model wins.
  std::optional<Finding> LocateWrite(const std::string& text) {
    if (writes_.empty()) IndexWrites();
    std::optional<Finding> found;
    for (std::size_t end = text.find(" : "); end != std::string::npos; end = text.find(" : ", end + 1)) {
      const auto write = writes_.find(text.substr(0, end + 3));
      if (write == writes_.end()) continue;
      const auto& [source, domainRule] = write->second;
      found = domainRule ? Finding{source->path, source->line, text, "SP104"}
                         : Finding{source->path, source->line, text.substr(end + 3), "SP100"};
    }
    return found;
  }

 private:
  const Analysis::Model& model_;
  std::multimap<std::string, const Analysis::Problem*> byText_;
  std::map<std::string, std::string> owners_;  // domain file to domain name
  struct Write {
    const Analysis::Source* source;
    bool domainRule;
  };
  std::unordered_map<std::string, Write> writes_;  // by the text its failure starts with

  void IndexWrites() {
    const auto at = [](const Analysis::Source& source) {
      return source.path + ":" + std::to_string(source.line) + " : ";
    };
    for (const auto& rule : model_.rules) {
      if (rule.origin != Analysis::Origin::DomainFile) continue;
      writes_.emplace(kDomainSetError + rule.domain + ": " + std::to_string(rule.source.line) + " : ",
                      Write{&rule.source, true});
    }
    for (const auto& mapping : model_.mappings) writes_.emplace(at(mapping.source), Write{&mapping.source, false});
    for (const auto& rule : model_.tardiskRules) writes_.emplace(at(rule.source), Write{&rule.source, false});
  }
};

// Lines that only sum up errors already reported.
const std::set<std::string> kSummaries = {
    "Error in parsing the policy for some domains",
    "Error in policy constraints check for some domains",
    "Error in setting the policy for some domains",
    "Failure in domain policy",
    "Error in parsing some object files",
    "Failure in object policy",
    "Error in parsing some file label mappings.",
    "Error in setting some file labels.",
    "There was a failure in setting file labels",
    "Failure in file labels policy",
    "Error in parsing some tardisk policy files",
    "Error in setting some tardisk labels and policy",
    "Failure in setting specified tardisk policy",
    "Failure in setting default tardisk policy",
    "Failure in setting tardisk policy",
    "There were some problems encountered in setting the policy",
};

// The load's error reports, in order, as findings.
std::vector<Finding> MapReports(const std::vector<std::string>& reports, const std::string& dir,
                                Places& places) {
  std::vector<Finding> errors;
  std::vector<std::string> summaries;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const std::string& text = reports[i];
    const std::string next = i + 1 < reports.size() ? reports[i + 1] : "";
    const auto add = [&](const std::string& path, std::optional<unsigned int> line,
                         const std::string& what, const char* code) {
      errors.push_back({path, line, what, code});
    };
    if (kSummaries.count(text) != 0) {
      summaries.push_back(text);
    } else if (auto parse = places.Locate(text)) {
      errors.push_back(*parse);
    } else if (auto write = places.LocateWrite(text)) {
      errors.push_back(*write);
    } else if (auto path = places.DomainNamed(text, "Policy constraint error for domain: ", " : ",
                                              false)) {
      add(*path, std::nullopt, text, "SP103");
    } else if (auto skipped = places.DomainNamed(text, "Skipping the policy for domain ",
                                                 " due to errors in the policy", true)) {
      add(*skipped, std::nullopt, text, "SP103");
    } else if (text.starts_with("Error parsing file ")) {
      // The next report is that file's: located, or an unknown label without a line.
      const std::string file = text.substr(19);
      if (i + 1 < reports.size()) {
        ++i;
        if (auto located = places.Locate(next, &file)) {
          errors.push_back(*located);
        } else {
          add(file, std::nullopt, next, "SP101");
        }
      }
    } else if (text.starts_with("No backing tardisk for policy file ")) {
      add(text.substr(35), std::nullopt, text, "SP106");
    } else if (text.starts_with("More than one exception specification for tardisk ") &&
               next.starts_with("Ignoring ")) {
      const std::string file = next.substr(9);
      add(file, std::nullopt, text, "SP106");
      add(file, std::nullopt, next, "SP106");
      ++i;
    } else if (text.starts_with("Unable to open policy file ")) {
      add(text.substr(27), std::nullopt, text, "SP105");
    } else if (text.starts_with("Unable to open policy directory for tardisks ")) {
      add(text.substr(45), std::nullopt, text, "SP105");
    } else if (text.starts_with("Unable to open policy directory ")) {
      add(text.substr(32), std::nullopt, text, "SP105");
    } else if (text == "Error in defining some objects") {
      add(dir + "/" + SecPolicy::ObjectsDirName, std::nullopt, text, "SP100");
    } else if ((text == "Failed to set default tardisk rule: " ||
                text == "Failed to set default tardisk label: ") &&
               i + 1 < reports.size()) {
      add(dir, std::nullopt, text + next, "SP100");  // reported as two lines, one failure
      ++i;
    } else {
      add(dir, std::nullopt, text, "SP100");
    }
  }
  // Nothing but summaries is still a failed load.
  if (errors.empty()) {
    for (const auto& text : summaries) errors.push_back({dir, std::nullopt, text, "SP100"});
  }
  return errors;
}

// The number of the first line longer than the reader keeps.
std::optional<unsigned int> FirstLongLine(const std::string& path) {
  const Posix::UniqueFd file(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (file.get() < 0 || fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::nullopt;
  }
  char buffer[65536];
  unsigned int line = 1;
  std::size_t length = 0;
  for (ssize_t got; (got = read(file.get(), buffer, sizeof buffer)) > 0;) {
    for (ssize_t i = 0; i < got; ++i) {
      if (buffer[i] == '\n') {
        ++line;
        length = 0;
      } else if (++length > kLongestLine) {
        return line;
      }
    }
  }
  return std::nullopt;
}

std::set<std::string> ObjectNames(HyxAccessInterfaceImpl& iface) {
  std::set<std::string> names;
  for (const auto& [name, id] : iface.GetKeywordsMap(HYXACCESS_KEYWORD_OBJECT)) names.insert(name);
  return names;
}

std::string List(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// By path, then line (none first); repeats dropped, and a report without a
// line that a located one says again.
std::vector<Finding> Tidy(std::vector<Finding> findings, const std::string& dir) {
  std::set<std::tuple<std::string, std::optional<unsigned int>, std::string>> seen;
  std::set<std::pair<std::string, std::string>> locatedByPath;
  std::set<std::string> locatedTexts;
  for (const auto& f : findings) {
    if (!f.line) continue;
    locatedByPath.emplace(f.path, f.text);
    locatedTexts.insert(f.text);
  }
  std::vector<Finding> kept;
  for (auto& f : findings) {
    if (!seen.emplace(f.path, f.line, f.text).second) continue;
    if (!f.line && (locatedByPath.count({f.path, f.text}) != 0 ||
                    (f.path == dir && locatedTexts.count(f.text) != 0))) {
      continue;
    }
    kept.push_back(std::move(f));
  }
  std::stable_sort(kept.begin(), kept.end(), [](const Finding& a, const Finding& b) {
    return std::tie(a.path, a.line) < std::tie(b.path, b.line);
  });
  return kept;
}

CheckReport Examine(const std::string& dir, const LoadRun& run,
                    const std::set<std::string>& objectsAfter, const Analysis::Model& model);

}  // namespace

LoadRun RunLoad(const std::string& dir, HyxAccessInterfaceImpl& iface) {
  const QuietErrors quiet;
  LoadRun run;
  run.objectsBefore = ObjectNames(iface);
  run.logStart = HostSim::KernelLog().size();
  try {
    SecPolicy::LoadPolicy(dir);
  } catch (const HostCtlException&) {
    run.failed = true;  // reported in the kernel log like everything else
  }
  return run;
}

CheckReport CheckPolicy(const std::string& dir) {
  HostSim::DryRun dryRun;
  HyxAccessInterfaceImpl iface;
  const LoadRun run = RunLoad(dir, iface);
  const std::set<std::string> objectsAfter = ObjectNames(iface);
  // After the load, so the copy already holds the tree's objects and domains.
  const Analysis::Model model = Analysis::ReadTree(dir, iface);
  CheckReport report = Examine(dir, run, objectsAfter, model);
  report.lint = Analysis::Lint(model);
  return report;
}

CheckReport ExamineLoad(const std::string& dir, HyxAccessInterfaceImpl& iface, const LoadRun& run) {
  const std::set<std::string> objectsAfter = ObjectNames(iface);
  // Only a load that reported something needs the model to place it.
  const auto log = HostSim::KernelLog();
  const bool reported = std::any_of(log.begin() + static_cast<std::ptrdiff_t>(run.logStart),
                                    log.end(), [](const auto& entry) { return entry.tag == "[ERR]"; });
  const Analysis::Model model = run.failed || reported ? Analysis::ReadTree(dir, iface) : Analysis::Model{};
  return Examine(dir, run, objectsAfter, model);
}

namespace {

CheckReport Examine(const std::string& dir, const LoadRun& run,
                    const std::set<std::string>& objectsAfter, const Analysis::Model& model) {
  std::vector<std::string> reports;
  const auto log = HostSim::KernelLog();
  for (std::size_t i = run.logStart; i < log.size(); ++i) {
    if (log[i].tag == "[ERR]") reports.push_back(log[i].text);
  }

  Places places(model);
  CheckReport report;
  report.errors = MapReports(reports, dir, places);
  for (const auto& problem : model.problems) {
    if (!problem.unread) continue;
    Finding error = places.Place(problem);
    error.code = "SP102";
    report.errors.push_back(std::move(error));
  }

  // Objects the kernel holds now that the lines after a file's bad line
  // name: the load, which stops at that line, removes them.
  std::set<std::string> removed;
  std::set_difference(run.objectsBefore.begin(), run.objectsBefore.end(), objectsAfter.begin(),
                      objectsAfter.end(), std::inserter(removed, removed.end()));
  for (const auto& problem : model.problems) {
    if (problem.unread || problem.source.line == 0) continue;
    std::vector<std::string> lost;
    for (const auto& object : model.unreadObjects) {
      if (object.source.path == problem.source.path && removed.count(object.name) != 0 &&
          std::find(lost.begin(), lost.end(), object.name) == lost.end()) {
        lost.push_back(object.name);
      }
    }
    if (!lost.empty()) {
      report.warnings.push_back(
          {problem.source.path, problem.source.line,
           "a load stops reading this file at this line and removes these objects, which the "
           "kernel holds now and later lines name: " + List(lost),
           "SP209"});
    }
  }

  for (const auto* mappings : {&model.mappings, &model.unreadMappings}) {
    for (const auto& mapping : *mappings) {
      struct stat status {};
      if (lstat(mapping.path.c_str(), &status) != 0 && errno == ENOENT) {
        report.warnings.push_back({mapping.source.path, mapping.source.line,
                                   "the file to label does not exist: " + mapping.path, "SP208"});
      }
    }
  }

  for (const auto& path : model.files) {
    if (auto line = FirstLongLine(path)) {
      report.warnings.push_back(
          {path, *line,
           "line longer than 1023 characters: a load takes its first 1023 characters and "
           "reads nothing after them in this file",
           "SP207"});
    }
  }

  report.errors = Tidy(std::move(report.errors), dir);
  report.warnings = Tidy(std::move(report.warnings), dir);
  return report;
}

}  // namespace

}  // namespace SecPolicy::Admin
