// Questions to a policy model: which rules match filters, every way into a
// domain, everything that names an object, and what applies to a path.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "secpolicy/analysis/policy_model.h"

namespace SecPolicy::Analysis {

// Filters combine: an answer passes every one given. Without a question the
// answers are the rules. An answer with no domain, rule type or action
// (a mapping, an object) fails a filter on it.
struct QueryOptions {
  std::optional<std::string> domain;
  std::optional<std::string> type;    // a rule-type keyword, "-a" ... "-u"
  std::optional<std::string> action;  // "grant" or "revoke"
  std::optional<std::string> match;   // one of the answer's identity words
  // At most one question.
  std::optional<std::string> enters;  // a domain
  std::optional<std::string> uses;    // an object
  std::optional<std::string> path;
};

struct Answer {
  std::string kind;    // "rule", "mapping", "label", "object", "tardisk", "role"
  std::string domain;  // the rule's domain, the domain a tardisk policy or role enters
  std::string keyword;
  std::vector<std::string> words;  // identity words
  std::string action;
  std::string text;  // the policy line, or what the answer says
  Source source;
  bool effective = true;
  std::optional<Source> shadowedBy;
  std::string note;  // why it does not take effect, or its role
};

// Throws std::invalid_argument for a bad rule type, action or two questions.
std::vector<Answer> Query(const Model& model, const QueryOptions& options);

// "SOURCE: [DOMAIN: ]TEXT[ (shadowed by SOURCE)]".
std::string AnswerLine(const Answer& answer, bool fromKernel);
// One JSON document: {"source": "tree"|"kernel", "dir", "answers": [...]}.
std::string AnswersJson(const Model& model, const std::vector<Answer>& answers);

}  // namespace SecPolicy::Analysis
