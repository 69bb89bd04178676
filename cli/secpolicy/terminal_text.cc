#include "cli/secpolicy/terminal_text.h"

#include <cstdio>

namespace SecPolicyCli {

std::string Escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          char code[5];
          std::snprintf(code, sizeof code, "\\x%02x", byte);
          out += code;
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string JsonText(const nlohmann::ordered_json& document) {
  return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace SecPolicyCli
