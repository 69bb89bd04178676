#include "secpolicy/analysis/lint.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

namespace SecPolicy::Analysis {

namespace {

constexpr char kMarker[] = "secpolicy: ignore";

// Folders whose whole tree the host's own programs and settings live in.
const std::set<std::string> kSystemFolders = {
    "/",     "/bin", "/boot", "/dev",     "/etc",     "/lib",     "/lib32", "/lib64",
    "/opt",  "/proc", "/root", "/sbin",   "/sys",     "/usr",     "/var",   "/usr/bin",
    "/usr/lib", "/usr/sbin", "/usr/lib64", "/usr/libexec", "/usr/local", "/tardisks"};

// The path with repeated and trailing slashes dropped ("/" stays).
std::string Tidy(const std::string& path) {
  std::string out;
  for (char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// The codes named after kMarker in a comment, or nothing without one.
std::vector<std::string> CodesIn(const std::string& comment) {
  const std::size_t at = comment.find(kMarker);
  if (at == std::string::npos) return {};
  std::vector<std::string> codes;
  std::string word;
  for (std::size_t i = at + sizeof kMarker - 1; i <= comment.size(); ++i) {
    const char c = i < comment.size() ? comment[i] : ' ';
    if (c == ' ' || c == ',' || c == '\t' || c == '\r') {
      if (!word.empty()) codes.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  return codes;
}

class Linter {
 public:
  explicit Linter(const Model& model) : model_(model) {}

  std::vector<LintFinding> Run() {
    ShadowedRules();
    ShadowedMappings();
    ObjectUse();
    UnsafeRoots();
    SystemWrites();
    Unentered();
    return std::move(findings_);
  }

 private:
  void Add(const char* code, const Source& source, const std::string& text) {
    const LintCode* info = FindLintCode(code);
    findings_.push_back({code, info->level, source.path,
                         source.line != 0 ? std::optional<unsigned int>(source.line) : std::nullopt,
                         text});
  }
  std::string Where(const Source& source) const { return SourceText(source, model_.fromKernel); }

  void ShadowedRules() {
    for (const Rule& rule : model_.rules) {
      if (!rule.shadowedBy || rule.source.path.empty()) continue;
      const Rule& later = model_.rules[*rule.shadowedBy];
      const bool conflict = rule.keyword != "-r" && rule.action != later.action;
      // The default tardisk policy rewriting a line with the same effect changes nothing.
      if (!conflict && later.origin == Origin::DefaultTardisk) continue;
      if (conflict) {
        Add("SP202", rule.source,
            rule.domain + ": '" + rule.Text() + "' is overridden by '" + later.Text() + "' at " +
                Where(later.source));
      } else {
        Add("SP201", rule.source,
            rule.domain + ": '" + rule.Text() + "' never takes effect: '" + later.Text() +
                "' at " + Where(later.source) + " writes the same rule later");
      }
    }
  }

  void ShadowedMappings() {
    for (const Mapping& mapping : model_.mappings) {
      if (!mapping.shadowedBy) continue;
      const Mapping& later = model_.mappings[*mapping.shadowedBy];
      Add("SP203", mapping.source,
          "mapping '" + mapping.Text() + "' never takes effect: '" + later.Text() + "' at " +
              Where(later.source) + " labels the same path later");
    }
  }

  void ObjectUse() {
    std::set<std::string> defined(model_.predefinedObjects.begin(), model_.predefinedObjects.end());
    for (const auto& object : model_.objects) defined.insert(object.name);
    std::set<std::string> used{model_.defaultTardiskLabel};
    for (const Rule& rule : model_.rules) {
      for (const auto& object : rule.Objects()) used.insert(object);
    }
    for (const Mapping& mapping : model_.mappings) {
      used.insert(mapping.label);
      if (defined.count(mapping.label) == 0) {
        Add("SP204", mapping.source,
            "mapping '" + mapping.Text() + "' names the object '" + mapping.label +
                "', which the tree does not define");
      }
    }
    for (const TardiskRule& rule : model_.tardiskRules) {
      used.insert(rule.label);
      if (defined.count(rule.label) == 0) {
        Add("SP204", rule.source,
            "tardisk policy for " + rule.tardisk + " names the object '" + rule.label +
                "', which the tree does not define");
      }
    }
    std::set<std::string> reported;
    for (const ObjectDef& object : model_.objects) {
      if (used.count(object.name) == 0 && reported.insert(object.name).second) {
        Add("SP301", object.source,
            "object '" + object.name + "' is used by no rule, mapping or tardisk policy");
      }
    }
  }

  // A link as the root is followed; a folder others may write lets them
  // put a link or another tree where the mapping points.
  void UnsafeRoots() {
    for (const Mapping& mapping : model_.mappings) {
      if (mapping.shadowedBy || mapping.path.empty() || mapping.path[0] != '/') continue;
      struct stat status {};
      if (lstat(mapping.path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        Add("SP205", mapping.source,
            "mapping '" + mapping.Text() + "': " + mapping.path +
                " is a symbolic link, and a load follows it");
        continue;
      }
      const std::string path = Tidy(mapping.path);
      for (std::size_t slash = path.rfind('/'); slash != std::string::npos;
           slash = slash == 0 ? std::string::npos : path.rfind('/', slash - 1)) {
        const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
        if (lstat(folder.c_str(), &status) != 0) continue;
        // A sticky folder (such as /tmp) keeps others from replacing what is ours.
        const bool othersWrite =
            (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0;
        const bool foreignOwner = status.st_uid != 0 && status.st_uid != geteuid();
        if (S_ISDIR(status.st_mode) && (othersWrite || foreignOwner)) {
          Add("SP205", mapping.source,
              "mapping '" + mapping.Text() + "': " + mapping.path + " lies in " + folder +
                  ", which " + (othersWrite ? "others may write" : "another user owns"));
          break;
        }
      }
    }
  }

  void SystemWrites() {
    for (const Rule& rule : model_.rules) {
      if (rule.keyword != "-r" || !rule.TakesEffect() || rule.source.path.empty() ||
          rule.action.find('w') == std::string::npos) {
        continue;
      }
      const std::string path = Tidy(rule.words.at(0));
      if (kSystemFolders.count(path) != 0) {
        Add("SP206", rule.source,
            rule.domain + ": '" + rule.Text() + "' grants write access to all of " + path);
      }
    }
  }

  void Unentered() {
    std::set<std::string> entered;
    for (const auto& role : SpecialRoles()) entered.insert(role.domain);
    entered.insert(model_.defaultTardiskDomain);
    entered.insert(model_.launchDomains.begin(), model_.launchDomains.end());
    for (const Rule& rule : model_.rules) {
      if (rule.keyword == "-d" && rule.TakesEffect() && rule.action == "grant" &&
          rule.words.at(1) != rule.domain) {
        entered.insert(rule.words.at(1));
      }
    }
    for (const TardiskRule& rule : model_.tardiskRules) entered.insert(rule.domain);
    for (const DomainDef& domain : model_.domains) {
      if (entered.count(domain.name) == 0 && !domain.source.path.empty()) {
        Add("SP302", domain.source,
            "domain '" + domain.name + "' is entered by no transition, tardisk policy or special role");
      }
    }
  }

  const Model& model_;
  std::vector<LintFinding> findings_;
};

}  // namespace

const char* LevelWord(Level level) {
  switch (level) {
    case Level::Error: return "error";
    case Level::Warning: return "warning";
    case Level::Note: return "note";
  }
  return "note";
}

const std::vector<LintCode>& LintCodes() {
  static const std::vector<LintCode> codes = {
      {"SP100", Level::Error, "A load of the tree would report this error",
       "A load of the tree reports this error, which no more specific code covers: the line, the "
       "file or the whole phase named is not loaded as written. Fix what the message names."},
      {"SP101", Level::Error, "A line a load refuses",
       "A load refuses this line and reads nothing after it in the same file, so the rest of the "
       "file (and, for a domain, the whole domain's later rules) is not loaded. Fix the line as "
       "the message says."},
      {"SP102", Level::Error, "A bad line after the one a load stops at",
       "A load never reads this line, because an earlier line of the file stops it; once that "
       "line is fixed, the load would refuse this one. Fix it too, so the file loads whole."},
      {"SP103", Level::Error, "Domain that fails its constraint check",
       "The domain's rules parse, but together break a constraint the kernel sets (such as a "
       "parameter check with an argument it does not take), so a load writes none of its rules. "
       "Fix the rule the message names."},
      {"SP104", Level::Error, "Rule the kernel refuses",
       "The line parses, but the kernel refuses to hold the rule when a load writes it. Fix or "
       "remove the rule the message names."},
      {"SP105", Level::Error, "Policy file or folder a load cannot open",
       "A load cannot open this policy file or folder, so nothing in it is loaded. Create it, or "
       "make it readable (a regular file or folder, not a link)."},
      {"SP106", Level::Error, "Tardisk policy a load ignores",
       "A load ignores this tardisk policy file: no tardisk backs it, or more than one policy "
       "file names the same tardisk. Remove the file, or pair it with its one tardisk."},
      {"SP200", Level::Warning, "A load would silently do something else than the tree says",
       "A load accepts the tree but does not do what it appears to say, in a way no more specific "
       "code covers. Fix the line the warning names."},
      {"SP201", Level::Warning, "Rule shadowed by a later line of the same identity",
       "The kernel keeps one rule per domain and identity (the rule type and every word but the "
       "action), so the last line written wins and this earlier one never takes effect. It "
       "misleads a reader about what the domain may do. Remove the earlier line, or merge the "
       "two."},
      {"SP202", Level::Warning, "Grant and revoke of the same rule",
       "The same rule is granted on one line and revoked on another (or by a tardisk policy); "
       "only the later one takes effect. Decide which one is meant and remove the other."},
      {"SP203", Level::Warning, "File-label mapping shadowed by a later mapping of the same path",
       "Mappings are applied in order, so a later mapping of the same path (or a recursive one "
       "of the same folder) rewrites every label this one writes. Remove the earlier mapping or "
       "give the two different paths."},
      {"SP204", Level::Warning, "Mapping or tardisk policy names an object the tree does not define",
       "A label must be an object of the objects folder (or one the kernel predefines). An "
       "undefined one makes the labelling fail, or leaves files with the id of an object that "
       "a load removes. Define the object, or name one that is defined."},
      {"SP205", Level::Warning, "Mapping whose root is a link or lies in a folder others may write",
       "A load labels the root of a mapping as named and follows it when it is a symbolic link "
       "(nothing below the root is ever followed). Whoever can write the folders above it can "
       "point the mapping at another tree. Name the real path, and keep the folders above it "
       "writable by their owner only (root or you)."},
      {"SP206", Level::Warning, "Write access to / or to a whole system folder",
       "A file path rule that grants write access to /, /etc, /usr, /bin and the like lets the "
       "domain change the host's programs and settings. Grant write access to the files or "
       "sub-folders the domain needs instead."},
      {"SP207", Level::Warning, "Line longer than 1023 characters",
       "The reader keeps the first 1023 characters of a line and reads nothing after it in the "
       "file, without a word: the rest of the line and every later line are not loaded. Split "
       "the line, or shorten it."},
      {"SP208", Level::Warning, "File to label does not exist",
       "A load labels nothing for this mapping, without an error, because the file or folder it "
       "names does not exist. Fix the path, or remove the mapping."},
      {"SP209", Level::Warning, "Objects a load would remove because an object file stops early",
       "A bad line ends the reading of an object file, and a load then removes every object "
       "defined only after it, though the kernel holds them now: files and rules that name them "
       "lose their meaning. Fix the bad line."},
      {"SP301", Level::Note, "Object that nothing uses",
       "No rule, file-label mapping or tardisk policy names this object. It may be left over "
       "from a removed domain; remove it, or use it."},
      {"SP302", Level::Note, "Domain that nothing enters",
       "No transition rule, tardisk policy or special role (a special domain, the default "
       "tardisk domain or a domain tardisk programs are launched from) leads into this domain, "
       "so no world "
       "enters it through the policy. Worlds may still be put in it at run time; if none are, "
       "the domain may be left over."},
  };
  return codes;
}

const LintCode* FindLintCode(const std::string& code) {
  for (const LintCode& info : LintCodes()) {
    if (code == info.code) return &info;
  }
  return nullptr;
}

const Suppressions::File& Suppressions::Read(const std::string& path) {
  if (auto found = files_.find(path); found != files_.end()) return found->second;
  File file;
  std::ifstream in(path, std::ios::binary);
  std::string text;
  for (unsigned int number = 1; std::getline(in, text); ++number) {
    const std::size_t hash = text.find('#');
    if (hash == std::string::npos) continue;
    const std::vector<std::string> codes = CodesIn(text.substr(hash));
    const bool alone = text.find_first_not_of(' ') == hash;
    for (const auto& code : codes) {
      if (number == 1 && alone) file.whole.push_back(code);
      file.lines.emplace_back(number, code);
    }
  }
  return files_.emplace(path, std::move(file)).first->second;
}

bool Suppressions::Silences(const std::string& path, std::optional<unsigned int> line,
                            const std::string& code) {
  if (path.empty()) return false;
  const File& file = Read(path);
  if (std::find(file.whole.begin(), file.whole.end(), code) != file.whole.end()) return true;
  return line && std::find(file.lines.begin(), file.lines.end(), std::make_pair(*line, code)) !=
                     file.lines.end();
}

std::vector<LintFinding> Lint(const Model& model) {
  Suppressions suppressions;
  std::vector<LintFinding> kept;
  for (LintFinding& finding : Linter(model).Run()) {
    if (!suppressions.Silences(finding.path, finding.line, finding.code)) {
      kept.push_back(std::move(finding));
    }
  }
  std::stable_sort(kept.begin(), kept.end(), [](const LintFinding& a, const LintFinding& b) {
    return std::tie(a.path, a.line) < std::tie(b.path, b.line);
  });
  return kept;
}

}  // namespace SecPolicy::Analysis
