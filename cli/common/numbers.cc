#include "cli/common/numbers.h"

#include <charconv>
#include <string_view>

namespace CliCommon {

std::optional<std::int64_t> ParseInteger(const std::string& text) {
  std::string_view digits = text;
  const bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  int base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  std::uint64_t magnitude = 0;
  const char* end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, magnitude, base);
  if (digits.empty() || error != std::errc() || stop != end) return std::nullopt;
  if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::nullopt;
  }
  const auto value = static_cast<std::int64_t>(magnitude);
  return negative ? -value : value;
}

std::optional<std::int64_t> ParseInRange(const std::string& text, std::int64_t low,
                                         std::int64_t high) {
  const auto value = ParseInteger(text);
  if (!value || *value < low || *value > high) return std::nullopt;
  return value;
}

std::string NumberError(const std::string& what, std::int64_t low, std::int64_t high,
                        const std::string& text) {
  return "not " + what + " (" + std::to_string(low) + " to " + std::to_string(high) +
         ", decimal or 0x hex): \"" + text + "\"";
}

CLI::Validator Number(const std::string& what, std::int64_t low, std::int64_t high) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        const auto value = ParseInRange(text, low, high);
        if (!value) return NumberError(what, low, high, text);
        text = std::to_string(*value);
        return {};
      },
      "", what);
}

}  // namespace CliCommon
