// One reading of a policy tree, or of what the kernel holds, into records
// that carry their source file and line. The tree is parsed by the
// library's own rule sets, object, file-label and tardisk policies, in the
// order a load takes it, so the model holds what a load would write: the
// lines after a file's first bad line are not in it, and the line itself is
// a Problem. Those later lines are still read, one at a time, each through
// the same parser: their problems are marked unread and their objects and
// mappings kept apart, for check. Queries, the linter and the transition
// graph work on it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "secpolicy/platform/hyx_access.h"

namespace SecPolicy::Analysis {

// Where a record comes from. An empty path means no policy file: the
// kernel (line = the line the kernel recorded) or the default tardisk
// policy (line 0).
struct Source {
  std::string path;
  unsigned int line = 0;
};
// "PATH:LINE", "PATH", "(kernel)", "(kernel):LINE" or "(default tardisk policy)".
std::string SourceText(const Source& source, bool fromKernel);

enum class Origin { DomainFile, TardiskPolicy, DefaultTardisk, Kernel };

// One domain rule. The kernel keeps one rule per domain and identity, so of
// the rules sharing both, the last written takes effect.
struct Rule {
  std::string domain;
  std::string keyword;             // "-a" ... "-u"
  std::vector<std::string> words;  // the identity, in policy-line order
  std::string action;              // "grant" or "revoke"; a "-r" rule's letters
  Source source;
  Origin origin = Origin::DomainFile;
  // The domain failed its constraint check: a load writes none of its rules.
  bool skipped = false;
  std::optional<std::size_t> shadowedBy;  // index of the rule that overrides it

  std::string Identity() const;  // keyword and identity words
  std::string Text() const;      // the policy line
  // Objects the rule names (transition, object access, socket, creation).
  std::vector<std::string> Objects() const;
  bool TakesEffect() const { return !skipped && !shadowedBy; }
};

struct Mapping {
  std::string path;  // without the "/*" of a recursive mapping
  std::string label;
  bool recursive = false;
  Source source;
  std::optional<std::size_t> shadowedBy;  // a later mapping that rewrites all it writes
  std::string Text() const;               // the policy line
};

struct ObjectDef {
  std::string name;
  Source source;
};

struct DomainDef {
  std::string name;
  Source source;  // its policy file, line 0; empty in a kernel model
};

// The "-E label domain" line of a tardisk policy file.
struct TardiskRule {
  std::string tardisk;  // "/tardisks/NAME"
  std::string label;
  std::string domain;
  Source source;
};

// A line (or a file, line 0) a load would refuse, in the library's words.
struct Problem {
  Source source;
  std::string text;
  // After the file's first bad line: a load never reads it, so reports
  // nothing of it.
  bool unread = false;
};

struct Model {
  bool fromKernel = false;
  std::string dir;
  std::vector<DomainDef> domains;
  std::vector<ObjectDef> objects;
  std::vector<std::string> predefinedObjects;  // defined by the kernel itself
  std::vector<Rule> rules;                     // in the order a load writes them
  std::vector<Mapping> mappings;               // likewise
  std::vector<TardiskRule> tardiskRules;
  std::string defaultTardiskLabel, defaultTardiskDomain;
  // The domains tardisk programs are started from: the host's own worlds
  // run in them, whatever the policy says.
  std::vector<std::string> launchDomains;
  std::vector<Problem> problems;
  std::vector<std::string> files;  // every policy file a load reads, in its order
  // Objects and mappings of the lines after a file's first bad line: a load
  // never takes them, but an author who fixes that line gets them.
  std::vector<ObjectDef> unreadObjects;
  std::vector<Mapping> unreadMappings;
};

// The four domains with a role of their own, and the role.
struct SpecialRole {
  const char* domain;
  const char* role;
};
const std::vector<SpecialRole>& SpecialRoles();

// Reads the tree at `dir` (plug-in domains and tardisk policies from their
// fixed folders, as a load does) on a throwaway copy of the kernel: the
// state is only read. Nothing is printed. Throws HostCtlException when the
// copy cannot be made.
Model ReadTree(const std::string& dir);
// The same on a kernel the caller holds, such as a throwaway copy that a
// load of the same tree has just run on (its objects and domains are then
// those the reading would set, so the answer is the same).
Model ReadTree(const std::string& dir, HyxCtl::Security::HyxAccessInterfaceImpl& iface);

// What the kernel holds: domains, their rules and the objects.
Model ReadKernel(HyxCtl::Security::HyxAccessInterfaceImpl& iface);

}  // namespace SecPolicy::Analysis
