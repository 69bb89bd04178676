#include "cli/secpolicy/terminal_text.h"

namespace SecPolicyCli {

std::string JsonText(const nlohmann::ordered_json& document) {
  return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace SecPolicyCli
