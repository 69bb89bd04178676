// JSON documents that reach a terminal or a program: names and paths come
// from policy files, file names and the kernel, and any of them may be
// hostile. Private to the admin library and the tools (not installed).
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace SecPolicy::Admin {

// One JSON document and a newline. Bytes that are not UTF-8 become U+FFFD,
// so the output always parses; DEL and C1 controls are written as \u
// escapes, so it holds nothing a terminal acts on.
std::string JsonText(const nlohmann::ordered_json& document);

}  // namespace SecPolicy::Admin
