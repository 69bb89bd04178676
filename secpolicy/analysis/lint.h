// The policy linter: findings with stable codes on a model of a tree.
// Codes SP1xx are errors, SP2xx warnings, SP3xx notes. A finding is
// silenced by a comment "# secpolicy: ignore SPxxx" at the end of its line,
// or alone on the first line of its file for the whole file (several codes
// may follow, separated by spaces or commas). The policy reader drops
// comments, so a suppression never changes what a load does.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "secpolicy/analysis/policy_model.h"

namespace SecPolicy::Analysis {

enum class Level { Error, Warning, Note };
const char* LevelWord(Level level);  // "error", "warning", "note"

struct LintCode {
  const char* code;
  Level level;
  const char* title;        // one line
  const char* explanation;  // what it means, why it matters, how to fix it
};

// Every code, in code order. SP100-SP106, SP200 and SP207-SP209 are what
// check finds by running a load of the tree; Lint gives the others.
const std::vector<LintCode>& LintCodes();
const LintCode* FindLintCode(const std::string& code);

struct LintFinding {
  std::string code;
  Level level = Level::Warning;
  std::string path;
  std::optional<unsigned int> line;
  std::string text;
};

// The findings on `model` that no suppression silences, by path, then line.
std::vector<LintFinding> Lint(const Model& model);

// Whether a comment in `path` silences `code` on `line` (0: the file).
// Reads the file; an unreadable file silences nothing.
class Suppressions {
 public:
  bool Silences(const std::string& path, std::optional<unsigned int> line,
                const std::string& code);

 private:
  struct File {
    std::vector<std::string> whole;
    std::vector<std::pair<unsigned int, std::string>> lines;  // line, code
  };
  const File& Read(const std::string& path);
  std::map<std::string, File> files_;
};

}  // namespace SecPolicy::Analysis
