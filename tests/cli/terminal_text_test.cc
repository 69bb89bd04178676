// The tools' shared text handling: the escaping of names and paths, the
// guard on standard output, and the one number syntax.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

#include "cli/common/numbers.h"
#include "cli/common/terminal_text.h"

namespace {

struct EscapeRow {
  std::string input;
  std::string escaped;  // EscapeControls
  std::string guarded;  // through TerminalGuard
};

const EscapeRow kEscapeRows[] = {
    {"plain /etc/x", "plain /etc/x", "plain /etc/x"},
    {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
     "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
    {"a\nb\tc\\d", "a\\nb\\tc\\\\d", "a\nb\tc\\d"},
    {"cr\rx", "cr\\rx", "cr\\rx"},
    {"esc\x1b[2J\x1b]0;pwned\x07", "esc\\x1b[2J\\x1b]0;pwned\\x07", "esc\\x1b[2J\\x1b]0;pwned\\x07"},
    {std::string("nul\0x", 5), "nul\\x00x", "nul\\x00x"},
    {"del\x7f", "del\\x7f", "del\\x7f"},
    // C1 controls at both ends of their range; U+00A0 is the first after them.
    {"\xc2\x80|\xc2\x9b|\xc2\x9f|\xc2\xa0", "\\xc2\\x80|\\xc2\\x9b|\\xc2\\x9f|\xc2\xa0",
     "\\xc2\\x80|\\xc2\\x9b|\\xc2\\x9f|\xc2\xa0"},
    // Overlong forms.
    {"\xc0\xaf\xc1\xbf", "\\xc0\\xaf\\xc1\\xbf", "\\xc0\\xaf\\xc1\\xbf"},
    {"\xe0\x80\xaf", "\\xe0\\x80\\xaf", "\\xe0\\x80\\xaf"},
    {"\xf0\x8f\xbf\xbf", "\\xf0\\x8f\\xbf\\xbf", "\\xf0\\x8f\\xbf\\xbf"},
    // Surrogates, and the code point just below them.
    {"\xed\xa0\x80|\xed\x9f\xbf", "\\xed\\xa0\\x80|\xed\x9f\xbf", "\\xed\\xa0\\x80|\xed\x9f\xbf"},
    // Above U+10FFFF, and U+10FFFF itself.
    {"\xf4\x90\x80\x80|\xf5\x80\x80\x80|\xf4\x8f\xbf\xbf",
     "\\xf4\\x90\\x80\\x80|\\xf5\\x80\\x80\\x80|\xf4\x8f\xbf\xbf",
     "\\xf4\\x90\\x80\\x80|\\xf5\\x80\\x80\\x80|\xf4\x8f\xbf\xbf"},
    // Cut off: before another character and at the end.
    {"\xe2\x82x\xf0\x9f\x98", "\\xe2\\x82x\\xf0\\x9f\\x98", "\\xe2\\x82x\\xf0\\x9f\\x98"},
    {"\x80\xbf\xff\xfe", "\\x80\\xbf\\xff\\xfe", "\\x80\\xbf\\xff\\xfe"},
};

std::string Guarded(const std::string& first, const std::string& second) {
  std::ostringstream out;
  {
    const CliCommon::TerminalGuard guard(out);
    out << first << std::flush << second;
  }
  return out.str();
}

TEST(TerminalTextTest, EscapesWhatIsNotPrintableUtf8) {
  for (const EscapeRow& row : kEscapeRows) {
    EXPECT_EQ(CliCommon::EscapeControls(row.input), row.escaped) << row.escaped;
    // The guard gives the same wherever its writes split the text.
    for (std::size_t at = 0; at <= row.input.size(); ++at) {
      EXPECT_EQ(Guarded(row.input.substr(0, at), row.input.substr(at)), row.guarded)
          << row.escaped << " split at " << at;
    }
  }
}

TEST(TerminalTextTest, GuardPassesLongOrdinaryTextUnchanged) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "-s open grant \xc3\xa9\n";
  EXPECT_EQ(Guarded(text, text), text + text);
}

TEST(NumbersTest, OneSyntaxWithItsBoundaries) {
  using CliCommon::ParseInRange;
  constexpr std::int64_t kMax = CliCommon::kUint32Max;
  const struct {
    std::string text;
    std::int64_t low, high;
    std::optional<std::int64_t> value;
  } rows[] = {
      {"0", 0, kMax, 0},
      {"4294967295", 0, kMax, kMax},
      {"0xffffffff", 0, kMax, kMax},
      {"0XFF", 0, kMax, 255},
      {"4294967296", 0, kMax, std::nullopt},
      {"0x100000000", 0, kMax, std::nullopt},
      {"-1", 0, kMax, std::nullopt},
      {"010", 0, kMax, 10},
      {"-2147483648", CliCommon::kInt32Min, CliCommon::kInt32Max, CliCommon::kInt32Min},
      {"-0x80000000", CliCommon::kInt32Min, CliCommon::kInt32Max, CliCommon::kInt32Min},
      {"-2147483649", CliCommon::kInt32Min, CliCommon::kInt32Max, std::nullopt},
      {"2147483648", CliCommon::kInt32Min, CliCommon::kInt32Max, std::nullopt},
      {"99999999999999999999", CliCommon::kInt32Min, CliCommon::kInt32Max, std::nullopt},
      {"+10", 0, kMax, std::nullopt},
      {"-+1", CliCommon::kInt32Min, CliCommon::kInt32Max, std::nullopt},
      {"0x+1", 0, kMax, std::nullopt},
      {"--1", CliCommon::kInt32Min, CliCommon::kInt32Max, std::nullopt},
      {" 1", 0, kMax, std::nullopt},
      {"1 ", 0, kMax, std::nullopt},
      {"1x", 0, kMax, std::nullopt},
      {"0x", 0, kMax, std::nullopt},
      {"-", 0, kMax, std::nullopt},
      {"", 0, kMax, std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseInRange(row.text, row.low, row.high), row.value) << row.text;
}

}  // namespace
