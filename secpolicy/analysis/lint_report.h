// Findings as programs read them: one JSON document, or a SARIF 2.1.0 log
// that code-review services take (rules with their help, levels, and
// locations relative to the policy tree).
#pragma once

#include <string>
#include <vector>

#include "secpolicy/analysis/lint.h"

namespace SecPolicy::Analysis {

// {"ok": BOOL, "findings": [{"code", "level", "path", "line", "text"}]}.
std::string FindingsJson(const std::vector<LintFinding>& findings, bool ok);

// Paths below `treeDir` are given relative to it (base id POLICYROOT);
// others, such as the fixed tardisk policy folder, as absolute file URIs.
std::string FindingsSarif(const std::vector<LintFinding>& findings, const std::string& treeDir,
                          const std::string& toolVersion);

}  // namespace SecPolicy::Analysis
