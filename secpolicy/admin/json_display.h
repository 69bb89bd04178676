// The JSON model of `display`: what the text display shows, as one document.
#pragma once

#include <string>

#include "secpolicy/admin/kernel_rules.h"

namespace SecPolicy::Admin {

// {"domains": [...], "objects": [...], "tardisks": [...]} and a newline, as
// JsonText writes it; `domain` selects domains as `display` does (empty:
// all, else an id in decimal). Read failures the text display reports and
// goes past are reported to `report` with the text display's words and
// gone past; the others pass out.
std::string DisplayJson(const std::string& domain, const ReadError& report);

}  // namespace SecPolicy::Admin
