#include "cli/common/terminal_text.h"

#include <cstddef>

namespace CliCommon {
namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0. C1 controls
// (U+0080 to U+009F) count as not well-formed: terminals act on them as on
// escapes.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const std::size_t length = lead >= 0xf5 ? 0 : lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return 0;
  }
  if (lead == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0) return 0;
  return length;
}

}  // namespace

std::string EscapeControls(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x80) {
      if (const std::size_t length = Utf8Length(text, i); length > 0) {
        shown.append(text, i, length);
        i += length;
        continue;
      }
    }
    switch (byte) {
      case '\\': shown += "\\\\"; break;
      case '\n': shown += "\\n"; break;
      case '\t': shown += "\\t"; break;
      case '\r': shown += "\\r"; break;
      default:
        if (byte < 0x20 || byte >= 0x7f) {
          shown += "\\x";
          shown += kHex[byte >> 4];
          shown += kHex[byte & 0xf];
        } else {
          shown += static_cast<char>(byte);
        }
    }
    ++i;
  }
  return shown;
}

}  // namespace CliCommon
