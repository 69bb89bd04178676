#include "secpolicy/admin/policy_check.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <tuple>

#include "secpolicy/admin/quiet_errors.h"
#include "secpolicy/analysis/policy_model.h"
#include "secpolicy/domains/domain_policy.h"
#include "hostsim/admin.h"
#include "secpolicy/labels/file_labels.h"
#include "secpolicy/labels/object_policy.h"
#include "secpolicy/load/policy_load.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"
#include "secpolicy/platform/hyx_access.h"
#include "secpolicy/policytext/policy_file_reader.h"
#include "secpolicy/tardisks/tardisk_policy.h"
#include "secpolicy/platform/unique_fd.h"

namespace SecPolicy::Admin {

namespace {

using HostCtl::Lib::HostCtlException;
using HyxCtl::Security::HyxAccessInterfaceImpl;
using SecPolicy::Admin::QuietErrors;
using SecPolicy::ParsedPolicyFile;

// The reader keeps this much of a line; a longer line ends its file.
constexpr std::size_t kLongestLine = 1023;
constexpr char kTardiskDir[] = "/tardisks/";
constexpr char kDomainParseError[] = "Error in parsing policy for domain: ";


// An anonymous in-memory file that the library's file parsers read one
// policy line at a time, through its /proc/self/fd name.
class ScratchFile {
 public:
  ScratchFile() : fd_(memfd_create("secpolicy-check", MFD_CLOEXEC)) {
    if (fd_ < 0) throw HostCtlException("Cannot make a scratch file: " + std::string(strerror(errno)));
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~ScratchFile() { close(fd_); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& path() const { return path_; }
  void Put(const std::string& text) const {
    if (ftruncate(fd_, 0) != 0 ||
        pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
      throw HostCtlException("Cannot write a scratch file: " + std::string(strerror(errno)));
    }
  }

 private:
  int fd_;
  std::string path_;
};

// `text` without `prefix`, or all of it when it does not start so.
std::string Cause(const std::string& text, const std::string& prefix) {
  return text.starts_with(prefix) ? text.substr(prefix.size()) : text;
}

// "<digits> : <rest>" at `at`: the number and the rest.
std::optional<std::pair<unsigned int, std::string>> NumberThenRest(const std::string& text,
                                                                   std::size_t at) {
  std::size_t end = at;
  while (end < text.size() && end - at < 10 && text[end] >= '0' && text[end] <= '9') ++end;
  if (end == at || text.compare(end, 3, " : ") != 0) return std::nullopt;
  const unsigned long number = std::stoul(text.substr(at, end - at));
  if (number > 0xFFFFFFFFul) return std::nullopt;
  return std::make_pair(static_cast<unsigned int>(number), text.substr(end + 3));
}

std::string LineOf(SecPolicy::TokenQueue tokens) {
  std::string line;
  for (; !tokens.empty(); tokens.pop()) line += (line.empty() ? "" : " ") + tokens.front();
  return line + "\n";
}

ParsedPolicyFile ReadLines(const std::string& path) {
  ParsedPolicyFile lines;
  try {
    SecPolicy::ParseFile(path, lines);
  } catch (const HostCtlException&) {
    // The load reported it.
  }
  return lines;
}

// The policy files a load reads, as it names them.
struct Tree {
  std::string dir;
  std::vector<std::string> objectFiles, fileLabelFiles, tardiskFiles;
  std::map<std::string, std::string> domainFiles;  // domain name to file
  std::set<std::string> files;                     // all of the above

  explicit Tree(const std::string& policyDir) : dir(policyDir) {
    const std::string domains = SecPolicy::DomainsDirName;
    for (const auto& [path, name] : List(dir + "/" + domains)) domainFiles[name] = path;
    // Plug-in domains come from the fixed folder, their names prefixed.
    const std::string plugins = SecPolicy::DefaultPolicyDir + "/" + domains + "/plugins";
    for (const auto& [path, name] : List(plugins)) domainFiles["plugin-" + name] = path;
    for (const auto& [path, name] : List(dir + "/" + SecPolicy::ObjectsDirName)) {
      objectFiles.push_back(path);
    }
    for (const auto& [path, name] : List(dir + "/" + SecPolicy::FileLabelsDirName)) {
      fileLabelFiles.push_back(path);
    }
    for (const auto& [path, name] :
         List(SecPolicy::DefaultPolicyDir + "/" + SecPolicy::TardisksDirName)) {
      tardiskFiles.push_back(path);
    }
    for (const auto& [name, path] : domainFiles) files.insert(path);
    for (const auto* group : {&objectFiles, &fileLabelFiles, &tardiskFiles}) {
      files.insert(group->begin(), group->end());
    }
  }

  static SecPolicy::PolicyFileList List(const std::string& folder) {
    SecPolicy::PolicyFileList list;
    try {
      SecPolicy::GetFileList(folder, list);
    } catch (const HostCtlException&) {
      // The load reported it.
    }
    return list;
  }

  // After `prefix`: "<owner>: <line> : <cause>", the owner a domain (or a
  // tardisk policy file). The longest owner that fits wins, so names holding
  // ": " are still found. A failed write is not in the policy model, which
  // only parses, so this is how its line is found.
  std::optional<Finding> DomainLocated(const std::string& text, const std::string& prefix) const {
    if (!text.starts_with(prefix)) return std::nullopt;
    std::optional<Finding> best;
    std::size_t bestLength = 0;
    const auto consider = [&](const std::string& owner, const std::string& path) {
      const std::size_t at = prefix.size() + owner.size();
      if (owner.size() < bestLength || text.compare(prefix.size(), owner.size(), owner) != 0 ||
          text.compare(at, 2, ": ") != 0) {
        return;
      }
      if (auto number = NumberThenRest(text, at + 2)) {
        best = Finding{path, number->first, text, "SP101"};
        bestLength = owner.size();
      }
    };
    for (const auto& [name, path] : domainFiles) consider(name, path);
    for (const auto& path : tardiskFiles) consider(path, path);
    return best;
  }

  // "<prefix><domain><suffix>": the domain's file.
  std::optional<std::string> DomainNamed(const std::string& text, const std::string& prefix,
                                         const std::string& suffix, bool suffixEnds) const {
    if (!text.starts_with(prefix)) return std::nullopt;
    for (const auto& [name, path] : domainFiles) {
      if (text.compare(prefix.size(), name.size(), name) != 0) continue;
      const std::size_t at = prefix.size() + name.size();
      if (suffixEnds ? text.substr(at) == suffix : text.compare(at, suffix.size(), suffix) == 0) {
        return path;
      }
    }
    return std::nullopt;
  }
};

// The model's bad lines by the library's text of them, which is what the
// load reports too.
class Problems {
 public:
  Problems(const Analysis::Model& model, const Tree& tree) {
    for (const auto& [name, path] : tree.domainFiles) owners_.emplace(path, name);
    for (const auto& problem : model.problems) {
      if (!problem.unread && problem.source.line != 0) byText_.emplace(problem.text, &problem);
    }
  }

  // The report of a bad line: its file, its line and the cause alone. Object
  // and file-label lines read "<file>:<line> : <cause>"; domain lines, and
  // tardisk policy lines, which the domain rules parse, read
  // "<prefix><domain or file>: <line> : <cause>".
  std::optional<Finding> Locate(const std::string& text) const {
    const auto found = byText_.find(text);
    if (found == byText_.end()) return std::nullopt;
    const Analysis::Source& at = found->second->source;
    const std::string line = std::to_string(at.line);
    const auto owner = owners_.find(at.path);
    for (const std::string& prefix :
         {at.path + ":" + line + " : ",
          kDomainParseError + (owner != owners_.end() ? owner->second : at.path) + ": " + line + " : "}) {
      if (text.starts_with(prefix)) return Finding{at.path, at.line, text.substr(prefix.size()), "SP101"};
    }
    return std::nullopt;
  }

 private:
  std::map<std::string, const Analysis::Problem*> byText_;
  std::map<std::string, std::string> owners_;  // domain file to domain name
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

struct FromLoad {
  std::vector<Finding> errors;
  std::map<std::string, unsigned int> stoppedAt;  // file to the bad line that ended its parse
  std::set<std::string> ignoredTardiskFiles;
};

// The load's error reports, in order, as findings.
FromLoad MapReports(const std::vector<std::string>& reports, const Tree& tree,
                    const Problems& problems) {
  FromLoad result;
  std::vector<std::string> summaries;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const std::string& text = reports[i];
    const std::string next = i + 1 < reports.size() ? reports[i + 1] : "";
    const auto add = [&](const std::string& path, std::optional<unsigned int> line,
                         const std::string& what, const char* code) {
      result.errors.push_back({path, line, what, code});
    };
    if (kSummaries.count(text) != 0) {
      summaries.push_back(text);
    } else if (auto parse = problems.Locate(text)) {
      result.stoppedAt.emplace(parse->path, *parse->line);
      result.errors.push_back(*parse);
    } else if (auto set = tree.DomainLocated(text, "Error in setting policy for domain: ")) {
      set->code = "SP104";
      result.errors.push_back(*set);
    } else if (auto path = tree.DomainNamed(text, "Policy constraint error for domain: ", " : ",
                                            false)) {
      add(*path, std::nullopt, text, "SP103");
    } else if (auto skipped = tree.DomainNamed(text, "Skipping the policy for domain ",
                                               " due to errors in the policy", true)) {
      add(*skipped, std::nullopt, text, "SP103");
    } else if (text.starts_with("Error parsing file ")) {
      // The next report is that file's: located, or an unknown label without a line.
      const std::string file = text.substr(19);
      if (i + 1 < reports.size()) {
        ++i;
        if (auto located = problems.Locate(next); located && located->path == file) {
          result.errors.push_back(*located);
        } else {
          add(file, std::nullopt, next, "SP101");
        }
      }
    } else if (text.starts_with("No backing tardisk for policy file ")) {
      const std::string file = text.substr(35);
      result.ignoredTardiskFiles.insert(file);
      add(file, std::nullopt, text, "SP106");
    } else if (text.starts_with("More than one exception specification for tardisk ") &&
               next.starts_with("Ignoring ")) {
      const std::string file = next.substr(9);
      result.ignoredTardiskFiles.insert(file);
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
      add(tree.dir + "/" + SecPolicy::ObjectsDirName, std::nullopt, text, "SP100");
    } else if ((text == "Failed to set default tardisk rule: " ||
                text == "Failed to set default tardisk label: ") &&
               i + 1 < reports.size()) {
      add(tree.dir, std::nullopt, text + next, "SP100");  // reported as two lines, one failure
      ++i;
    } else {
      add(tree.dir, std::nullopt, text, "SP100");
    }
  }
  // Nothing but summaries is still a failed load.
  if (result.errors.empty()) {
    for (const auto& text : summaries) result.errors.push_back({tree.dir, std::nullopt, text, "SP100"});
  }
  return result;
}

// Object lines after the rejected one: their errors, and the names they
// hold, which the load never took.
std::vector<std::string> ReparseObjects(const std::string& path, unsigned int after,
                                        const ScratchFile& scratch, std::vector<Finding>& errors) {
  std::vector<std::string> names;
  const ParsedPolicyFile lines = ReadLines(path);
  for (auto line = lines.upper_bound(after); line != lines.end(); ++line) {
    scratch.Put(LineOf(line->second));
    SecPolicy::ObjectPolicy policy;
    try {
      policy.ParsePolicy(scratch.path());
      names.insert(names.end(), policy.objects.begin(), policy.objects.end());
    } catch (const HostCtlException& failure) {
      errors.push_back({path, line->first, Cause(failure.what(), scratch.path() + ":1 : "), "SP102"});
    }
  }
  return names;
}

// Every mapping of a file-label file, and the errors of the lines after the
// first bad one (or of every line, when the load could not say which).
std::vector<SecPolicy::FileLabelPolicy::FileLabel> FileLabelMappings(
    const std::string& path, HyxAccessInterfaceImpl& iface, const Problems& problems,
    const ScratchFile& scratch, std::vector<Finding>& errors) {
  SecPolicy::FileLabelPolicy whole;
  std::optional<unsigned int> resumeAfter;
  try {
    whole.ParsePolicy(path, iface);
  } catch (const HostCtlException& failure) {
    const auto located = problems.Locate(failure.what());
    resumeAfter = located && located->path == path ? *located->line : 0;
    if (*resumeAfter == 0) whole.fileLabels.clear();
  }
  std::vector<SecPolicy::FileLabelPolicy::FileLabel> mappings(whole.fileLabels.begin(),
                                                              whole.fileLabels.end());
  if (!resumeAfter) return mappings;
  const ParsedPolicyFile lines = ReadLines(path);
  for (auto line = lines.upper_bound(*resumeAfter); line != lines.end(); ++line) {
    scratch.Put(LineOf(line->second));
    SecPolicy::FileLabelPolicy one;
    try {
      one.ParsePolicy(scratch.path(), iface);
      for (auto mapping : one.fileLabels) {
        mapping.file = path;
        mapping.line = line->first;
        mappings.push_back(std::move(mapping));
      }
    } catch (const HostCtlException& failure) {
      errors.push_back({path, line->first, Cause(failure.what(), scratch.path() + ":1 : "), "SP102"});
    }
  }
  return mappings;
}

// Every line of a tardisk policy file through the tardisk policy's own
// parse, on a scratch file that the throwaway kernel attributes to the same
// tardisk. The lines taken so far stay in front, so a rule that may appear
// only once is still refused the second time.
void ReparseTardisk(const std::string& path, const std::string& tardisk,
                    HyxAccessInterfaceImpl& iface, const ScratchFile& scratch,
                    std::vector<Finding>& errors) {
  HostSim::MapTardisk(scratch.path(), tardisk.substr(std::strlen(kTardiskDir)));
  std::string taken;
  unsigned int takenLines = 0;
  for (const auto& [number, tokens] : ReadLines(path)) {
    const std::string line = LineOf(tokens);
    scratch.Put(taken + line);
    SecPolicy::TardiskPolicy policy(scratch.path());
    try {
      policy.ParsePolicy(iface);
      taken += line;
      ++takenLines;
    } catch (const HostCtlException& failure) {
      const std::string where = kDomainParseError + scratch.path() + ": " +
                                std::to_string(takenLines + 1) + " : ";
      errors.push_back({path, number, Cause(failure.what(), where), "SP102"});
    }
  }
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

CheckReport Examine(const std::string& dir, HyxAccessInterfaceImpl& iface, const LoadRun& run,
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
  CheckReport report = Examine(dir, iface, run, objectsAfter, model);
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
  return Examine(dir, iface, run, objectsAfter, model);
}

namespace {

CheckReport Examine(const std::string& dir, HyxAccessInterfaceImpl& iface, const LoadRun& run,
                    const std::set<std::string>& objectsAfter, const Analysis::Model& model) {
  std::vector<std::string> reports;
  const auto log = HostSim::KernelLog();
  for (std::size_t i = run.logStart; i < log.size(); ++i) {
    if (log[i].tag == "[ERR]") reports.push_back(log[i].text);
  }

  const Tree tree(dir);
  const Problems problems(model, tree);
  FromLoad load = MapReports(reports, tree, problems);
  CheckReport report;
  report.errors = std::move(load.errors);
  const QuietErrors quiet;
  const ScratchFile scratch;

  std::map<std::string, std::string> domainOf;
  for (const auto& [name, path] : tree.domainFiles) domainOf.emplace(path, name);
  for (const auto& problem : model.problems) {
    const auto domain = domainOf.find(problem.source.path);
    if (!problem.unread || domain == domainOf.end()) continue;
    const std::string where = kDomainParseError + domain->second + ": " +
                              std::to_string(problem.source.line) + " : ";
    report.errors.push_back(
        {problem.source.path, problem.source.line, Cause(problem.text, where), "SP102"});
  }

  std::set<std::string> removed;
  std::set_difference(run.objectsBefore.begin(), run.objectsBefore.end(), objectsAfter.begin(),
                      objectsAfter.end(), std::inserter(removed, removed.end()));
  for (const auto& path : tree.objectFiles) {
    const auto stop = load.stoppedAt.find(path);
    if (stop == load.stoppedAt.end()) continue;
    std::vector<std::string> lost;
    for (const auto& name : ReparseObjects(path, stop->second, scratch, report.errors)) {
      if (removed.count(name) != 0 && std::find(lost.begin(), lost.end(), name) == lost.end()) {
        lost.push_back(name);
      }
    }
    if (!lost.empty()) {
      report.warnings.push_back(
          {path, stop->second,
           "a load stops reading this file at this line and removes these objects, which the "
           "kernel holds now and later lines name: " + List(lost),
           "SP209"});
    }
  }

  for (const auto& path : tree.fileLabelFiles) {
    for (const auto& mapping : FileLabelMappings(path, iface, problems, scratch, report.errors)) {
      struct stat status {};
      if (lstat(mapping.path.c_str(), &status) != 0 && errno == ENOENT) {
        report.warnings.push_back(
            {path, mapping.line, "the file to label does not exist: " + mapping.path, "SP208"});
      }
    }
  }

  // Backing tardisks first: the re-parse maps the scratch file to them.
  std::vector<std::pair<std::string, std::string>> tardiskPolicies;
  for (const auto& path : tree.tardiskFiles) {
    if (load.ignoredTardiskFiles.count(path) != 0) continue;
    try {
      const std::string tardisk = SecPolicy::TardiskPolicy(path).GetBackingTardiskPath();
      if (tardisk.starts_with(kTardiskDir)) tardiskPolicies.emplace_back(path, tardisk);
    } catch (const HostCtlException&) {
      // The load reported it.
    }
  }
  for (const auto& [path, tardisk] : tardiskPolicies) {
    ReparseTardisk(path, tardisk, iface, scratch, report.errors);
  }

  for (const auto& path : tree.files) {
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
