#include <gtest/gtest.h>

#include "Utf8.hpp"

namespace wexla::cli {
namespace {

TEST(Utf8, RepairReplacesEachMaximalIllFormedSubpart) {
  const std::string fffd = "\xEF\xBF\xBD";
  struct Case {
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"", ""},
      {"plain ascii", "plain ascii"},
      {"gi\xE1\xBB\xAF m\xC3\xA1y \xF0\x9F\x98\x80", "gi\xE1\xBB\xAF m\xC3\xA1y \xF0\x9F\x98\x80"},
      {"\x80", fffd},
      {"\xBF\xBF", fffd + fffd},
      {"\xC0\x80", fffd + fffd},  // overlong NUL
      {"\xC1\xBF", fffd + fffd},
      {"\xE0\x80\x80", fffd + fffd + fffd},             // overlong three-byte form
      {"\xED\xA0\x80", fffd + fffd + fffd},             // a surrogate
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // beyond U+10FFFF
      {"\xF5\x80", fffd + fffd},
      {"\xE1\x80", fffd},  // truncated, one subpart
      {"\xF0\x9F\x98", fffd},
      {"\xF0\x9F\x98x", fffd + "x"},
      {"a\xFF"
       "b",
       "a" + fffd + "b"},
      // The example the Unicode standard gives for this practice.
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + fffd + fffd + fffd + "b" + fffd + "c" + fffd + fffd + "d"},
  };
  for (const auto& c : cases) EXPECT_EQ(repairUtf8(c.input), c.expected) << c.input;
}

TEST(Utf8, DecodesCodePointsOfEveryLength) {
  const std::string text = "A\xC3\xA1\xE2\x80\x94\xF0\x9F\x98\x80";
  const char32_t expected[] = {U'A', U'\u00E1', U'\u2014', U'\U0001F600'};
  std::size_t pos = 0;
  for (const char32_t codePoint : expected) {
    bool valid = false;
    EXPECT_EQ(decodeUtf8(text, pos, valid), codePoint);
    EXPECT_TRUE(valid);
  }
  EXPECT_EQ(pos, text.size());
}

}  // namespace
}  // namespace wexla::cli
