// The policy model that query and graph ask: a tree or the kernel.
#pragma once

#include <stdexcept>
#include <string>

#include "secpolicy/analysis/policy_model.h"

namespace SecPolicyCli {

// The model cannot be read; `status` is the exit status to end with
// (2 for a DIR that is not a folder, 3 for a state that cannot be read).
struct ModelUnreadable : std::runtime_error {
  ModelUnreadable(const std::string& text, int exitStatus);
  int status;
};

SecPolicy::Analysis::Model ReadModel(const std::string& dir, bool kernel);

}  // namespace SecPolicyCli
