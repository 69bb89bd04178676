// Text that reaches a terminal or a program: names and paths come from
// policy files, file names and the kernel, and any of them may be hostile.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace SecPolicyCli {

// Control characters C-style ("\n", "\t", "\x1b", ...), DEL as "\x7f",
// backslash as "\\"; every other byte as it is.
std::string Escaped(const std::string& text);

// One JSON document and a newline. Bytes that are not UTF-8 become U+FFFD,
// so the output always parses.
std::string JsonText(const nlohmann::ordered_json& document);

}  // namespace SecPolicyCli
