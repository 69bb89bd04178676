// `secpolicy check`: everything `secpolicy load DIR` would report, found by
// running that load on a throwaway copy of the kernel, plus every further
// bad line of each file the load stopped reading, plus warnings for what a
// load silently accepts.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace SecPolicyCli {

struct Finding {
  std::string path;                  // the policy file (or folder) concerned
  std::optional<unsigned int> line;  // its line, where the problem has one
  std::string text;
};

struct CheckReport {
  std::vector<Finding> errors;    // by path, then line
  std::vector<Finding> warnings;  // likewise
};

// Changes nothing: the state file and every file's label stay as they are.
// Throws HostCtlException when the throwaway copy cannot be made.
CheckReport CheckPolicy(const std::string& dir);

}  // namespace SecPolicyCli
