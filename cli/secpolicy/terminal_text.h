// Text that reaches a terminal or a program: names and paths come from
// policy files, file names and the kernel, and any of them may be hostile.
#pragma once

#include "cli/common/terminal_text.h"
#include "secpolicy/admin/json_text.h"

namespace SecPolicyCli {
using SecPolicy::Admin::JsonText;
}  // namespace SecPolicyCli
