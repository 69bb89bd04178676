// Message sinks and the framed display heading.
//
// Informational lines go to syslog (priority 6) or, while no logger runs, to
// the kernel log tagged "[INFO]". Errors always go to standard error as
// "Error: " + text, and to syslog (priority 3) or the kernel log tagged
// "[ERR]". Standard output is left to the display operations.
#pragma once

#include <string>

namespace SecPolicy {

void SecpolicyInfo(const std::string& text);
void SecpolicyError(const std::string& text);

// Two empty lines, a rule of hyphens as long as the longer of the two texts,
// the title, the subtitle when not empty, the rule again.
void DisplayHeader(const std::string& title, const std::string& subtitle);

// Throws "incorrect number of arguments for this rule type".
[[noreturn]] void RuleSizeError();

}  // namespace SecPolicy
