// --jobs, --exclude and --progress of the commands that walk trees.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

#include "secpolicy/admin/label_walk.h"
#include "cli/secpolicy/progress.h"

namespace SecPolicyCli {

struct WalkFlags {
  unsigned jobs = 1;
  std::vector<std::string> exclude;
  bool progress;  // default: whether standard error is a terminal

  WalkFlags();
  // Nothing asked that the library's own walk does not do.
  bool Plain() const { return jobs == 1 && exclude.empty() && !progress; }

  // Settings for a walk, with the progress line shown while `shown` lives.
  // Throws HostCtlException when an excluded path cannot be examined.
  SecPolicy::Admin::WalkSettings Settings(std::optional<Progress>& shown) const;
};

void AddWalkOptions(CLI::App* command, WalkFlags& flags);

}  // namespace SecPolicyCli
