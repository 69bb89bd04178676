#include "secpolicy/admin/json_text.h"

namespace SecPolicy::Admin {

std::string JsonText(const nlohmann::ordered_json& document) {
  static const char kHex[] = "0123456789abcdef";
  const std::string dumped =
      document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  // The dump is well-formed UTF-8 with C0 controls escaped; DEL and the C1
  // controls, which can only stand inside strings, are escaped as well so
  // that a terminal does not act on them.
  std::string text;
  text.reserve(dumped.size() + 1);
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const auto byte = static_cast<unsigned char>(dumped[i]);
    const auto next = i + 1 < dumped.size() ? static_cast<unsigned char>(dumped[i + 1]) : 0;
    if (byte == 0x7f) {
      text += "\\u007f";
    } else if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
      text += "\\u00";
      text += kHex[next >> 4];
      text += kHex[next & 0xf];
      ++i;
    } else {
      text += static_cast<char>(byte);
    }
  }
  return text + "\n";
}

}  // namespace SecPolicy::Admin
