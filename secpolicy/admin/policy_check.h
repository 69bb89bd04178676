// `secpolicy check`: everything `secpolicy load DIR` would report, found by
// running that load on a throwaway copy of the kernel, plus every further
// bad line of each file the load stopped reading, plus warnings for what a
// load silently accepts, plus the linter's findings on the tree.
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "secpolicy/admin/finding.h"
#include "secpolicy/analysis/lint.h"
#include "secpolicy/platform/hyx_access.h"

namespace SecPolicy::Admin {

struct CheckReport {
  std::vector<Finding> errors;    // by path, then line
  std::vector<Finding> warnings;  // likewise
  // The linter's findings (warnings and notes), suppressions applied; by
  // path, then line.
  std::vector<Analysis::LintFinding> lint;
};

// Changes nothing: the state file and every file's label stay as they are.
// Throws HostCtlException when the throwaway copy cannot be made.
CheckReport CheckPolicy(const std::string& dir);

// The pieces of CheckPolicy, for a caller that holds its own
// HostSim::DryRun and looks at the kernel between them.
struct LoadRun {
  std::set<std::string> objectsBefore;  // object names before the load
  std::size_t logStart = 0;             // the load's first kernel-log line
  bool failed = false;                  // the load ended in an error
};
// Loads `dir` into the throwaway kernel, its error lines kept off standard
// error (they stay in the copy's kernel log).
LoadRun RunLoad(const std::string& dir, HyxCtl::Security::HyxAccessInterfaceImpl& iface);
// What `run` reported, and what a check adds to it.
CheckReport ExamineLoad(const std::string& dir, HyxCtl::Security::HyxAccessInterfaceImpl& iface,
                        const LoadRun& run);

}  // namespace SecPolicy::Admin
