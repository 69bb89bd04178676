// `secpolicy diff`: what a load of DIR would change in the kernel and on
// disk, found by running that load on a throwaway copy of the kernel whose
// rules were cleared first, so that the rules there afterwards are exactly
// those the tree writes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "secpolicy/admin/policy_check.h"

namespace SecPolicy::Admin {

struct Change {
  // + added, - removed, ~ changed, = kept (held, not in the tree), ! a
  // write the load would attempt and fail (the file has no label to replace)
  char mark = '+';
  std::string kind;  // domain, rule, object, label, tardisk
  std::optional<std::string> domain;  // a rule's domain
  std::string subject;  // domain or object name, a rule's identity, a path
  std::optional<std::string> before, after;
  std::string line;  // the text form's line
};

struct DiffReport {
  std::vector<Change> changes;  // sorted by line
  bool loadFails = false;       // the load itself would end in an error
  std::vector<Finding> errors;  // why, as `check` reports them
};

// Changes nothing; throws when the throwaway copy cannot be made or read.
DiffReport DiffPolicy(const std::string& dir);

}  // namespace SecPolicy::Admin
