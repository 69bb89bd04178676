// `display --json`: what `display` prints, as one JSON document.
#pragma once

#include <string>

namespace SecPolicyCli {

// Prints {"domains": [...], "objects": [...], "tardisks": [...]} on
// standard output; `domain` selects domains as `display` does (empty: all,
// else an id in decimal). Read failures the text display reports and goes
// past are reported the same way; the others pass out, and then nothing is
// printed.
void DisplayJson(const std::string& domain);

}  // namespace SecPolicyCli
