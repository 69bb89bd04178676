// `secpolicy diff`: what a load of DIR would change in the kernel and on
// disk, found by running that load on a throwaway copy of the kernel whose
// rules were cleared first, so that the rules there afterwards are exactly
// those the tree writes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace SecPolicyCli {

struct Change {
  char mark = '+';  // + added, - removed, ~ changed, = kept (held, not in the tree)
  std::string kind;  // domain, rule, object, label, tardisk
  std::optional<std::string> domain;  // a rule's domain
  std::string subject;  // domain or object name, a rule's identity, a path
  std::optional<std::string> before, after;
  std::string line;  // the text form's line
};

// Sorted by line. Errors the load reports go to standard error as a load
// prints them. Changes nothing; throws when the throwaway copy cannot be
// made or read.
std::vector<Change> DiffPolicy(const std::string& dir);

}  // namespace SecPolicyCli
