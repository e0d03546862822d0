#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "CommandText.hpp"
#include "CommandTextExamples.hpp"

namespace wexla::cli {
namespace {

struct Case {
  std::vector<std::string> args;
  std::optional<std::string> expected;
};

void expectAll(const std::vector<Case>& cases) {
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += "[" + a + "]";
    EXPECT_EQ(commandText(c.args), c.expected) << "arguments " << shown;
  }
}

TEST(CommandText, ExampleTable) {
  for (const auto& [args, text] : test::kCommandTextExamples) {
    expectAll({{args, text}});
  }
}

TEST(CommandText, HelpWordsOnlyCountFirstAndWhole) {
  expectAll({
      {{"--help"}, std::nullopt},
      {{"-h"}, std::nullopt},
      {{"help", "2h", "anything"}, std::nullopt},
      {{"status", "help"}, "status help"},
      {{"HELP"}, "HELP"},
      {{"-help"}, "-help"},
      {{"help "}, "help "},
  });
}

TEST(CommandText, OnlyAWholeLoneDurationConverts) {
  expectAll({
      {{" 2h"}, " 2h"},
      {{"2 h"}, "2 h"},
      {{"2h "}, "2h "},
      {{"45M"}, "45M"},
      {{"45'"}, "45'"},  // ASCII apostrophe is no unit
      {{"45\u02BCm"}, "45\u02BCm"},
      {{"h"}, "h"},
      {{"m"}, "m"},
      {{"-5m"}, "-5m"},
      {{"+5"}, "+5"},
      {{"5s"}, "5s"},
      {{"45", "m"}, "45 m"},
      {{"install-claude-hooks"}, "install-claude-hooks"},
      {{"now", "install-codex-hooks"}, "now install-codex-hooks"},
      {{"a", "", "b"}, "a  b"},
  });
}

TEST(CommandText, CountsAtTheEdgesOfSixtyFourBits) {
  expectAll({
      {{"9223372036854775807"}, "extend 9223372036854775807"},
      {{"9223372036854775807m"}, "extend 9223372036854775807"},
      {{"9223372036854775808"}, "extend 0"},
      {{"00000000000000000000000000042"}, "extend 42"},
      // The largest hour count whose minutes still fit, and the first that does not.
      {{"153722867280912930h"}, "extend 9223372036854775800"},
      {{"153722867280912931h"}, "extend 0"},
      {{"99999999999999999999h"}, "extend 0"},
  });
}

TEST(CommandText, NonAsciiDecimalDigitsMatchButDoNotConvert) {
  expectAll({
      {{"\u0663"}, "extend 0"},         // Arabic-Indic three
      {{"\u06F4\u06F5m"}, "extend 0"},  // Extended Arabic-Indic
      {{"\u0968h"}, "extend 0"},        // Devanagari two, hours
      {{"\u0E53\u02BC"}, "extend 0"},   // Thai three
      {{"\uFF14\uFF15"}, "extend 0"},   // Fullwidth four five
      {{"\U0001D7D0"}, "extend 0"},     // Mathematical bold two (four UTF-8 bytes)
      {{"\U0001FBF5h"}, "extend 0"},    // Segmented digit five (Unicode 13)
      {{"1\u0661"}, "extend 0"},        // ASCII mixed with Arabic-Indic
      {{"\u00B2"}, "\u00B2"},           // superscript two is no decimal digit
      {{"\u2163"}, "\u2163"},           // Roman numeral four is a letter number
      {{"\u0663H"}, "\u0663H"},
  });
}

TEST(CommandText, IllFormedBytesNeverMatch) {
  expectAll({
      {{"\xFF"}, "\xFF"},
      {{"4\xC2"}, "4\xC2"},
      {{"4\xCA"}, "4\xCA"},  // the first byte of the unit, cut short
  });
}

TEST(DecimalDigits, RangeEdges) {
  struct DigitCase {
    char32_t codePoint;
    bool digit;
  };
  const DigitCase cases[] = {
      {U'/', false},    {U'0', true},      {U'9', true},    {U':', false},   {0x065F, false},
      {0x0660, true},   {0x0669, true},    {0x066A, false}, {0x07C0, true},  {0x0DE6, true},
      {0xA9F0, true},   {0xFF10, true},    {0xFF19, true},  {0xFF1A, false}, {0x104A0, true},
      {0x1D7CE, true},  {0x1D7FF, true},   {0x1E950, true}, {0x1E959, true}, {0x1FBF9, true},
      {0x1FBFA, false}, {0x10FFFF, false}, {0x00B9, false}, {0x2460, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isDecimalDigit(c.codePoint), c.digit) << std::hex << "U+" << +c.codePoint;
  }
}

}  // namespace
}  // namespace wexla::cli
