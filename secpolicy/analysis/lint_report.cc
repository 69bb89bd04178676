#include "secpolicy/analysis/lint_report.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cstdio>
#include <map>

namespace SecPolicy::Analysis {

namespace {

using json = nlohmann::ordered_json;

std::string Dump(const json& document) {
  return document.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

// A path as a URI reference: unreserved bytes and "/" kept, others %XX.
std::string UriPath(const std::string& path) {
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

std::string FindingsJson(const std::vector<LintFinding>& findings, bool ok) {
  json list = json::array();
  for (const LintFinding& f : findings) {
    list.push_back({{"code", f.code},
                    {"level", LevelWord(f.level)},
                    {"path", f.path},
                    {"line", f.line ? json(*f.line) : json(nullptr)},
                    {"text", f.text}});
  }
  return Dump({{"ok", ok}, {"findings", std::move(list)}});
}

std::string FindingsSarif(const std::vector<LintFinding>& findings, const std::string& treeDir,
                          const std::string& toolVersion) {
  std::string root = treeDir;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  json rules = json::array();
  std::map<std::string, std::size_t> index;
  for (const LintCode& code : LintCodes()) {
    index[code.code] = rules.size();
    rules.push_back({{"id", code.code},
                     {"shortDescription", {{"text", code.title}}},
                     {"fullDescription", {{"text", code.explanation}}},
                     {"help", {{"text", code.explanation}}},
                     {"defaultConfiguration", {{"level", LevelWord(code.level)}}}});
  }
  json results = json::array();
  for (const LintFinding& f : findings) {
    json artifact;
    if (f.path.starts_with(root + "/")) {
      artifact = {{"uri", UriPath(f.path.substr(root.size() + 1))}, {"uriBaseId", "POLICYROOT"}};
    } else if (f.path == root) {
      artifact = {{"uri", "./"}, {"uriBaseId", "POLICYROOT"}};
    } else {
      artifact = {{"uri", "file://" + UriPath(f.path)}};
    }
    json location = {{"artifactLocation", artifact}};
    if (f.line) location["region"] = {{"startLine", *f.line}};
    json result = {{"ruleId", f.code},
                   {"level", LevelWord(f.level)},
                   {"message", {{"text", f.text}}},
                   {"locations", json::array({{{"physicalLocation", location}}})}};
    if (auto found = index.find(f.code); found != index.end()) result["ruleIndex"] = found->second;
    results.push_back(std::move(result));
  }
  const json run = {
      {"tool",
       {{"driver", {{"name", "secpolicy"}, {"version", toolVersion}, {"rules", std::move(rules)}}}}},
      {"originalUriBaseIds", {{"POLICYROOT", {{"uri", "file://" + UriPath(root + "/")}}}}},
      {"results", std::move(results)}};
  return Dump({{"$schema", "https://json.schemastore.org/sarif-2.1.0.json"},
               {"version", "2.1.0"},
               {"runs", json::array({run})}});
}

}  // namespace SecPolicy::Analysis
