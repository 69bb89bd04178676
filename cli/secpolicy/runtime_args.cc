#include "cli/secpolicy/runtime_args.h"

#include <limits>

#include "cli/common/numbers.h"

namespace SecPolicyCli {

namespace {

constexpr std::uint32_t kRead = 0x1;
constexpr std::uint32_t kWrite = 0x2;
constexpr std::uint32_t kExecute = 0x10;

using CliCommon::kUint32Max;
using CliCommon::ParseInRange;
constexpr std::int64_t kIntMin = std::numeric_limits<int>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();

}  // namespace

std::optional<std::uint32_t> ParsePermissions(const std::string& text) {
  if (const auto number = ParseInRange(text, 0, kUint32Max)) {
    return static_cast<std::uint32_t>(*number);
  }
  if (text.empty()) return std::nullopt;
  std::uint32_t mask = 0;
  for (const char letter : text) {
    const std::uint32_t bit = letter == 'r'   ? kRead
                              : letter == 'w' ? kWrite
                              : letter == 'x' ? kExecute
                                              : 0;
    if (bit == 0 || (mask & bit) != 0) return std::nullopt;
    mask |= bit;
  }
  return mask;
}

const CLI::Validator& Unsigned() {
  static const CLI::Validator check = CliCommon::Number("an unsigned 32-bit number", 0, kUint32Max);
  return check;
}
const CLI::Validator& World() {
  static const CLI::Validator check = CliCommon::Number("a world id", kIntMin, kIntMax);
  return check;
}
const CLI::Validator& Flag() {
  static const CLI::Validator check = CliCommon::Number("a flag byte", 0, 255);
  return check;
}
const CLI::Validator& Permissions() {
  static const CLI::Validator check(
      [](std::string& text) -> std::string {
        if (ParsePermissions(text)) return {};
        return "not a permission set (letters from r, w, x, or a number): \"" + text + "\"";
      },
      "", "permissions");
  return check;
}

std::uint32_t U32(const std::string& text) {
  return static_cast<std::uint32_t>(*ParseInRange(text, 0, kUint32Max));
}
int WorldId(const std::string& text) {
  return static_cast<int>(*ParseInRange(text, kIntMin, kIntMax));
}
char FlagByte(const std::string& text) {
  return static_cast<char>(static_cast<unsigned char>(*ParseInRange(text, 0, 255)));
}

CLI::Option* Arg(CLI::App* command, const char* name, std::string& target, const char* help) {
  return command->add_option(name, target, help)->required()->type_name("");
}

}  // namespace SecPolicyCli
