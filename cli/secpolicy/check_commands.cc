// check and diff.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>

#include "cli/common/terminal_text.h"
#include "cli/common/tool_main.h"
#include "cli/secpolicy/commands.h"
#include "secpolicy/admin/json_text.h"
#include "secpolicy/admin/policy_check.h"
#include "secpolicy/admin/policy_diff.h"
#include "secpolicy/analysis/lint.h"
#include "secpolicy/analysis/lint_report.h"
#include "secpolicy/load/special_domains.h"
#include "secpolicy/platform/host_ctl_exception.h"

namespace SecPolicyCli {

using SecPolicy::Admin::Change;
using SecPolicy::Admin::CheckPolicy;
using SecPolicy::Admin::CheckReport;
using SecPolicy::Admin::DiffPolicy;
using SecPolicy::Admin::DiffReport;
using SecPolicy::Admin::Finding;
using SecPolicy::Admin::JsonText;

namespace {

using json = nlohmann::ordered_json;
namespace Analysis = SecPolicy::Analysis;

// A check or diff that cannot run at all. Reported on standard error only:
// outside the throwaway copy nothing may reach the host's logs.
int CannotRun(const std::exception& failure, int status) {
  std::cerr << "Error: " << CliCommon::EscapeControls(failure.what()) << std::endl;
  return status;
}

json Optional(const std::optional<std::string>& text) {
  return text ? json(*text) : json(nullptr);
}

json FindingsJson(const std::vector<Finding>& findings) {
  json list = json::array();
  for (const Finding& f : findings) {
    list.push_back({{"path", f.path},
                    {"line", f.line ? json(*f.line) : json(nullptr)},
                    {"text", f.text}});
  }
  return list;
}

std::string FindingLine(const Finding& f, const char* tag) {
  return CliCommon::EscapeControls(f.path) + (f.line ? ":" + std::to_string(*f.line) : "") + ": " + tag +
         CliCommon::EscapeControls(f.text);
}

struct Options {
  std::string dir = SecPolicy::DefaultPolicyDir;
  bool json = false;
  bool strict = false;
  std::string format = "text";
  bool notes = false;
  std::optional<std::string> explain;
};

// Explanations are paragraphs of one line each; a terminal gets them wrapped.
std::string Wrapped(const std::string& text, std::size_t width) {
  std::string out, line;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + '\n';
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return out + line + '\n';
}

int Explain(std::string code) {
  std::transform(code.begin(), code.end(), code.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  const Analysis::LintCode* info = Analysis::FindLintCode(code);
  if (info == nullptr) {
    std::cerr << "Error: no code " << CliCommon::EscapeControls(code)
              << ": the codes are listed in secpolicy(8)" << std::endl;
    return 2;
  }
  std::cout << info->code << " (" << Analysis::LevelWord(info->level) << "): " << info->title
            << "\n\n"
            << Wrapped(info->explanation, 78) << std::flush;
  return 0;
}

int RunCheck(const Options& options) {
  if (options.explain) return Explain(*options.explain);
  CheckReport report;
  try {
    report = CheckPolicy(options.dir);
  } catch (const std::exception& failure) {
    return CannotRun(failure, 1);
  }
  const auto lintWarnings = std::count_if(report.lint.begin(), report.lint.end(), [](const auto& f) {
    return f.level != Analysis::Level::Note;
  });
  // Notes never fail a check.
  const bool failed = !report.errors.empty() ||
                      (options.strict && (!report.warnings.empty() || lintWarnings != 0));
  // Every finding with its code: the load's in file order, then the linter's.
  std::vector<std::pair<const Finding*, const char*>> loadFindings;
  for (const auto& f : report.errors) loadFindings.emplace_back(&f, "");
  for (const auto& f : report.warnings) loadFindings.emplace_back(&f, "warning: ");
  std::stable_sort(loadFindings.begin(), loadFindings.end(), [](const auto& a, const auto& b) {
    return std::tie(a.first->path, a.first->line) < std::tie(b.first->path, b.first->line);
  });
  std::vector<Analysis::LintFinding> all;
  for (const auto& [finding, tag] : loadFindings) {
    all.push_back({finding->code, *tag != '\0' ? Analysis::Level::Warning : Analysis::Level::Error,
                   finding->path, finding->line, finding->text});
  }
  all.insert(all.end(), report.lint.begin(), report.lint.end());

  const std::string format = options.json ? "json" : options.format;
  if (format == "json") {
    // "errors" and "warnings" keep what they have always held, the load's.
    json document = json::parse(Analysis::FindingsJson(all, !failed));
    std::cout << JsonText({{"ok", !failed},
                           {"errors", FindingsJson(report.errors)},
                           {"warnings", FindingsJson(report.warnings)},
                           {"findings", std::move(document["findings"])}})
              << std::flush;
  } else if (format == "sarif") {
    std::cout << Analysis::FindingsSarif(all, options.dir, CliCommon::Version()) << std::flush;
  } else {
    for (const auto& [finding, tag] : loadFindings) std::cerr << FindingLine(*finding, tag) << '\n';
    // The linter's lines carry their code; the load's stay as scripts know them.
    for (const auto& f : report.lint) {
      if (f.level == Analysis::Level::Note && !options.notes) continue;
      const std::string tag = std::string(Analysis::LevelWord(f.level)) + ": ";
      std::cerr << FindingLine({f.path, f.line, f.text, f.code}, tag.c_str()) << " [" << f.code
                << "]\n";
    }
    std::cerr.flush();
  }
  return failed ? 1 : 0;
}

int RunDiff(const Options& options) {
  DiffReport report;
  try {
    report = DiffPolicy(options.dir);
  } catch (const std::exception& failure) {
    return CannotRun(failure, 3);
  }
  const auto& changes = report.changes;
  const bool changed = std::any_of(changes.begin(), changes.end(),
                                   [](const Change& c) { return c.mark != '=' && c.mark != '!'; });
  if (options.json) {
    json list = json::array();
    for (const Change& c : changes) {
      list.push_back({{"mark", std::string(1, c.mark)},
                      {"kind", c.kind},
                      {"domain", Optional(c.domain)},
                      {"subject", c.subject},
                      {"before", Optional(c.before)},
                      {"after", Optional(c.after)},
                      {"line", c.line}});
    }
    std::cout << JsonText({{"changed", changed},
                           {"loadFails", report.loadFails},
                           {"errors", FindingsJson(report.errors)},
                           {"changes", std::move(list)}});
  } else {
    for (const Finding& f : report.errors) std::cerr << FindingLine(f, "") << '\n';
    std::cerr.flush();
    for (const Change& c : changes) std::cout << CliCommon::EscapeControls(c.line) << '\n';
  }
  std::cout.flush();
  if (report.loadFails) return 4;
  return changed ? 1 : 0;
}

void AddDryRuns(CLI::App& app, int& status) {
  auto check = std::make_shared<Options>();
  CLI::App* checkCommand = app.add_subcommand(
      "check",
      "Report every problem a load of DIR would meet, and every further bad line of each\n"
      "file, by running the load on a throwaway copy of the kernel, then what the linter\n"
      "finds in the tree; nothing changes. Lines read PATH:LINE: TEXT on standard error,\n"
      "the linter's with their code. Exit 1 when a load would report an error.");
  checkCommand->add_option("DIR", check->dir, "Policy directory")->capture_default_str();
  auto* format = checkCommand->add_option("--format", check->format,
                                          "text (standard error), json or sarif (standard output)")
                     ->check(CLI::IsMember({"text", "json", "sarif"}))
                     ->capture_default_str();
  checkCommand->add_flag("--json", check->json, "The same as --format json")->excludes(format);
  checkCommand->add_flag("--strict", check->strict, "Exit 1 on warnings too (notes never fail)");
  checkCommand->add_flag("--notes", check->notes,
                         "List the linter's notes too (json and sarif always hold them)");
  checkCommand->add_option("--explain", check->explain,
                           "Print what CODE (such as SP201) means, why it matters and how to fix "
                           "it, and check nothing")
      ->option_text("CODE");
  checkCommand->callback([&status, check] { status = RunCheck(*check); });

  auto diff = std::make_shared<Options>();
  CLI::App* diffCommand = app.add_subcommand(
      "diff",
      "Print what a load of DIR would change (domains, rules, objects, file and tardisk\n"
      "labels), one change per line, by running the load on a throwaway copy of the kernel;\n"
      "nothing changes. When that load would fail, its errors go to standard error as\n"
      "check prints them and the changes it would still make are shown. Exit 1 when a\n"
      "load would change something, 3 when no diff can be made, 4 when the load would fail.");
  diffCommand->add_option("DIR", diff->dir, "Policy directory")->capture_default_str();
  diffCommand->add_flag("--json", diff->json, "Print the changes as one JSON document");
  diffCommand->callback([&status, diff] { status = RunDiff(*diff); });
}

}  // namespace

void AddCheckCommands(CLI::App& app, int& status) {
  AddDryRuns(app, status);
}

}  // namespace SecPolicyCli
