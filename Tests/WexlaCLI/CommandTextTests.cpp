#include <gtest/gtest.h>

#include "CommandText.hpp"
#include "Utf8.hpp"

namespace wexla::cli {
namespace {

TEST(CommandText, FromTheArguments) {
  // clang-format off
  const std::pair<std::vector<std::string>, std::optional<std::string>> cases[] = {
      {{}, std::nullopt},
      {{"help"}, std::nullopt},
      {{"-h", "2h", "now"}, std::nullopt},
      {{"status", "help"}, "status help"},
      {{"HELP"}, "HELP"},
      {{"a", "", "b"}, "a  b"},
      {{"45m"}, "extend 45"},
      {{"45"}, "extend 45"},
      {{"45\u02BC"}, "extend 45"},                // modifier letter apostrophe
      {{"2H"}, "2H"},
      {{"45'"}, "45'"},                           // the ASCII apostrophe is no unit
      {{"2h30m"}, "2h30m"},
      {{" 2h"}, " 2h"},
      {{"-5m"}, "-5m"},
      {{"2h", "now"}, "2h now"},
      {{"9223372036854775807"}, "extend 9223372036854775807"},
      {{"9223372036854775808"}, "extend 0"},      // beyond 64 bits: a failed conversion
      {{"153722867280912930h"}, "extend 9223372036854775800"},
      {{"153722867280912931h"}, "extend 0"},      // its minutes would not fit
      {{"\u0663"}, "extend 0"},                   // other scripts' digits match, never convert
      {{"\u0968h"}, "extend 0"},
      {{"\U0001D7D0"}, "extend 0"},
      {{"\U0001FBF5h"}, "extend 0"},              // a digit since Unicode 13
      {{"1\u0661"}, "extend 0"},
      {{"\u00B2"}, "\u00B2"},                     // superscript two is no decimal digit
      {{"4\xCA"}, "4\xCA"},                       // ill-formed bytes never match
  };
  // clang-format on
  for (const auto& [args, text] : cases) {
    EXPECT_EQ(commandText(args), text) << testing::PrintToString(args);
  }
}

TEST(Utf8, RepairReplacesEachMaximalIllFormedSubpart) {
  const std::string x = "\xEF\xBF\xBD";  // U+FFFD
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"gi\xE1\xBB\xAF m\xC3\xA1y \xF0\x9F\x98\x80", "gi\xE1\xBB\xAF m\xC3\xA1y \xF0\x9F\x98\x80"},
      {"\xC0\x80", x + x},                    // overlong
      {"\xE0\x80\x80", x + x + x},            // overlong
      {"\xED\xA0\x80", x + x + x},            // a surrogate
      {"\xF4\x90\x80\x80", x + x + x + x},    // beyond U+10FFFF
      {"\xF0\x9F\x98z", x + "z"},
      // Unicode's own example of this practice.
      {"a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d", "a" + x + x + x + "b" + x + "c" + x + x + "d"},
  };
  // clang-format on
  for (const auto& [bytes, text] : cases) EXPECT_EQ(repairUtf8(bytes), text) << bytes;
}

}  // namespace
}  // namespace wexla::cli
