#include "secpolicy/analysis/query.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <set>
#include <stdexcept>

namespace SecPolicy::Analysis {

namespace {

using json = nlohmann::ordered_json;

const std::set<std::string> kKeywords = {"-a", "-c", "-d", "-f", "-p", "-r", "-s", "-u"};

// Built field by field: GCC 12 at -O3 warns falsely on aggregate braces here.
Answer Make(const char* kind, const std::string& domain, std::vector<std::string> words,
            const std::string& text, const Source& source) {
  Answer answer;
  answer.kind = kind;
  answer.domain = domain;
  answer.words = std::move(words);
  answer.text = text;
  answer.source = source;
  return answer;
}

Answer FromRule(const Model& model, const Rule& rule) {
  Answer answer = Make("rule", rule.domain, rule.words, rule.Text(), rule.source);
  answer.keyword = rule.keyword;
  answer.action = rule.action;
  answer.effective = rule.TakesEffect();
  if (rule.shadowedBy) answer.shadowedBy = model.rules[*rule.shadowedBy].source;
  if (rule.skipped) answer.note = "not loaded: the domain fails its constraint check";
  if (rule.origin == Origin::TardiskPolicy) answer.note = "tardisk policy";
  if (rule.origin == Origin::DefaultTardisk) answer.note = "default tardisk policy";
  return answer;
}

Answer FromMapping(const Model& model, const Mapping& mapping) {
  Answer answer = Make("mapping", "", {mapping.path, mapping.label}, mapping.Text(), mapping.source);
  answer.effective = !mapping.shadowedBy;
  if (mapping.shadowedBy) answer.shadowedBy = model.mappings[*mapping.shadowedBy].source;
  return answer;
}

Answer FromTardisk(const TardiskRule& rule) {
  Answer answer = Make("tardisk", rule.domain, {rule.label, rule.domain},
                       "tardisk " + rule.tardisk + ": -E " + rule.label + " " + rule.domain,
                       rule.source);
  answer.keyword = "-E";
  return answer;
}

std::string Tidy(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Whether a rule or mapping on `root` reaches `path`, by name.
bool Covers(const std::string& root, const std::string& path) {
  const std::string r = Tidy(root);
  const std::string p = Tidy(path);
  if (p == r) return true;
  return r == "/" ? p.starts_with("/") : p.starts_with(r + "/");
}

std::vector<Answer> Enters(const Model& model, const std::string& domain) {
  std::vector<Answer> answers;
  for (const auto& role : SpecialRoles()) {
    if (domain == role.domain) {
      answers.push_back(Make("role", domain, {domain}, domain + ": " + role.role, {}));
      answers.back().note = role.role;
    }
  }
  for (const Rule& rule : model.rules) {
    if (rule.keyword == "-d" && rule.words.at(1) == domain) answers.push_back(FromRule(model, rule));
  }
  for (const TardiskRule& rule : model.tardiskRules) {
    if (rule.domain == domain) answers.push_back(FromTardisk(rule));
  }
  return answers;
}

std::vector<Answer> Uses(const Model& model, const std::string& object) {
  std::vector<Answer> answers;
  for (const ObjectDef& def : model.objects) {
    if (def.name == object) {
      answers.push_back(Make("object", "", {object}, "object " + object, def.source));
    }
  }
  for (const Rule& rule : model.rules) {
    const auto objects = rule.Objects();
    if (std::find(objects.begin(), objects.end(), object) != objects.end()) {
      answers.push_back(FromRule(model, rule));
    }
  }
  for (const Mapping& mapping : model.mappings) {
    if (mapping.label == object) answers.push_back(FromMapping(model, mapping));
  }
  for (const TardiskRule& rule : model.tardiskRules) {
    if (rule.label == object) answers.push_back(FromTardisk(rule));
  }
  return answers;
}

std::vector<Answer> ForPath(const Model& model, const std::string& path) {
  std::vector<Answer> answers;
  // The last mapping in load order that writes the path gives its label.
  for (std::size_t i = model.mappings.size(); i-- > 0;) {
    const Mapping& m = model.mappings[i];
    if (Tidy(m.path) == Tidy(path) || (m.recursive && Covers(m.path, path))) {
      Answer answer = FromMapping(model, m);
      answer.kind = "label";
      answer.text = "label " + path + ": " + m.label;
      answers.push_back(std::move(answer));
      break;
    }
  }
  std::vector<const Rule*> rules;
  for (const Rule& rule : model.rules) {
    if (rule.keyword == "-r" && Covers(rule.words.at(0), path)) rules.push_back(&rule);
  }
  // Per domain, the most specific path first.
  std::stable_sort(rules.begin(), rules.end(), [](const Rule* a, const Rule* b) {
    if (a->domain != b->domain) return a->domain < b->domain;
    return Tidy(a->words.at(0)).size() > Tidy(b->words.at(0)).size();
  });
  for (const Rule* rule : rules) answers.push_back(FromRule(model, *rule));
  return answers;
}

bool Passes(const Answer& answer, const QueryOptions& options) {
  if (options.domain && answer.domain != *options.domain) return false;
  if (options.type && answer.keyword != *options.type) return false;
  if (options.action && answer.action != *options.action) return false;
  if (options.match &&
      std::find(answer.words.begin(), answer.words.end(), *options.match) == answer.words.end()) {
    return false;
  }
  return true;
}

json SourceJson(const Source& source) {
  return {{"path", source.path.empty() ? json(nullptr) : json(source.path)},
          {"line", source.line != 0 ? json(source.line) : json(nullptr)}};
}

}  // namespace

std::vector<Answer> Query(const Model& model, const QueryOptions& options) {
  if (options.type && kKeywords.count(*options.type) == 0) {
    throw std::invalid_argument("unknown rule type " + *options.type +
                                " (one of -a -c -d -f -p -r -s -u)");
  }
  if (options.action && *options.action != "grant" && *options.action != "revoke") {
    throw std::invalid_argument("--action takes grant or revoke, not " + *options.action);
  }
  if (int(options.enters.has_value()) + int(options.uses.has_value()) +
          int(options.path.has_value()) > 1) {
    throw std::invalid_argument("ask one of --enters, --uses and --path at a time");
  }
  std::vector<Answer> all;
  if (options.enters) {
    all = Enters(model, *options.enters);
  } else if (options.uses) {
    all = Uses(model, *options.uses);
  } else if (options.path) {
    all = ForPath(model, *options.path);
  } else {
    for (const Rule& rule : model.rules) all.push_back(FromRule(model, rule));
  }
  std::vector<Answer> kept;
  for (Answer& answer : all) {
    if (Passes(answer, options)) kept.push_back(std::move(answer));
  }
  return kept;
}

std::string AnswerLine(const Answer& answer, bool fromKernel) {
  std::string line =
      (answer.kind == "role" ? "(special role)" : SourceText(answer.source, fromKernel)) + ": ";
  if (answer.kind == "rule") line += answer.domain + ": ";
  line += answer.text;
  if (answer.shadowedBy) line += " (shadowed by " + SourceText(*answer.shadowedBy, fromKernel) + ")";
  if (!answer.note.empty() && answer.kind == "rule") line += " [" + answer.note + "]";
  return line;
}

std::string AnswersJson(const Model& model, const std::vector<Answer>& answers) {
  json list = json::array();
  for (const Answer& a : answers) {
    list.push_back({{"kind", a.kind},
                    {"domain", a.domain.empty() ? json(nullptr) : json(a.domain)},
                    {"type", a.keyword.empty() ? json(nullptr) : json(a.keyword)},
                    {"words", a.words},
                    {"action", a.action.empty() ? json(nullptr) : json(a.action)},
                    {"text", a.text},
                    {"source", SourceJson(a.source)},
                    {"effective", a.effective},
                    {"shadowedBy", a.shadowedBy ? SourceJson(*a.shadowedBy) : json(nullptr)},
                    {"note", a.note.empty() ? json(nullptr) : json(a.note)}});
  }
  const json document = {{"source", model.fromKernel ? "kernel" : "tree"},
                         {"dir", model.fromKernel ? json(nullptr) : json(model.dir)},
                         {"answers", std::move(list)}};
  return document.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace SecPolicy::Analysis
