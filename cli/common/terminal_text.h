// Text that reaches a terminal or a line-based reader. Names and paths come
// from policy files, file names, the kernel and the state, and any of them
// may be hostile: an escape sequence must not act, a newline must not forge
// a line.
#pragma once

#include <string>

namespace CliCommon {

// `text` with backslash, control characters, DEL, C1 controls and bytes that
// are not UTF-8 written C-style ("\\", "\n", "\t", "\r", "\x1b", "\xff");
// well-formed UTF-8 passes as it is.
std::string EscapeControls(const std::string& text);

}  // namespace CliCommon
