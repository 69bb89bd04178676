// Numbers on the command line, read the same way by both tools: decimal, or
// hexadecimal after "0x", with an optional leading "-". Nothing else passes:
// no octal (so "010" is ten), no "+", no spaces, no trailing text.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace CliCommon {

inline constexpr std::int64_t kUint32Max = std::numeric_limits<std::uint32_t>::max();
inline constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
inline constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();

std::optional<std::int64_t> ParseInteger(const std::string& text);

// The value when it parses and lies in [low, high].
std::optional<std::int64_t> ParseInRange(const std::string& text, std::int64_t low,
                                         std::int64_t high);

// The one wording of a bad number, for both tools:
//   not WHAT (LOW to HIGH, decimal or 0x hex): "TEXT"
std::string NumberError(const std::string& what, std::int64_t low, std::int64_t high,
                        const std::string& text);

// A check for an option holding a number in [low, high]. It also rewrites
// the text in decimal, so an option of integer type receives exactly the
// value checked here (CLI11's own conversion would read "010" as octal).
CLI::Validator Number(const std::string& what, std::int64_t low, std::int64_t high);

}  // namespace CliCommon
