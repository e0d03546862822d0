#include "CommandText.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "Utf8.hpp"

namespace wexla::cli {

namespace {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

constexpr CodePointRange kDecimalDigitRanges[] = {
#include "DecimalDigitRanges.inc"
};

constexpr std::int64_t kMinutesPerHour = 60;
constexpr std::string_view kModifierLetterApostrophe = "\u02BC";

enum class Unit { minutes, hours };

struct Duration {
  std::string_view digits;
  Unit unit;
};

// Whole-match of (\d+)(h|m|ʼ)? where \d is any Unicode decimal digit.
std::optional<Duration> matchDuration(std::string_view word) {
  std::size_t pos = 0;
  std::size_t digitsEnd = 0;
  while (pos < word.size()) {
    std::size_t next = pos;
    bool valid = false;
    const char32_t codePoint = decodeUtf8(word, next, valid);
    if (!valid || !isDecimalDigit(codePoint)) break;
    pos = next;
    digitsEnd = next;
  }
  if (digitsEnd == 0) return std::nullopt;

  const std::string_view unit = word.substr(digitsEnd);
  if (unit.empty() || unit == "m" || unit == kModifierLetterApostrophe) {
    return Duration{word.substr(0, digitsEnd), Unit::minutes};
  }
  if (unit == "h") return Duration{word.substr(0, digitsEnd), Unit::hours};
  return std::nullopt;
}

// Base-10 conversion that accepts ASCII digits only; anything else, or a value beyond the
// signed 64-bit range, is a failed conversion.
std::optional<std::int64_t> asciiCount(std::string_view digits) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::int64_t minutesOf(const Duration& duration) {
  const std::optional<std::int64_t> count = asciiCount(duration.digits);
  if (!count) return 0;
  if (duration.unit == Unit::minutes) return *count;
  // An hour count whose minutes do not fit counts as a failed conversion, never a wrap-around.
  if (*count > std::numeric_limits<std::int64_t>::max() / kMinutesPerHour) return 0;
  return *count * kMinutesPerHour;
}

}  // namespace

bool isDecimalDigit(char32_t codePoint) {
  const auto* end = std::end(kDecimalDigitRanges);
  const auto* it = std::upper_bound(
      std::begin(kDecimalDigitRanges), end, codePoint,
      [](char32_t value, const CodePointRange& range) { return value < range.first; });
  if (it == std::begin(kDecimalDigitRanges)) return false;
  return codePoint <= std::prev(it)->last;
}

std::optional<std::string> commandText(const std::vector<std::string>& from) {
  if (from.empty()) return std::nullopt;
  if (std::find(helpWords.begin(), helpWords.end(), from.front()) != helpWords.end()) {
    return std::nullopt;
  }
  if (from.size() == 1) {
    if (const auto duration = matchDuration(from.front())) {
      return "extend " + std::to_string(minutesOf(*duration));
    }
    return from.front();
  }
  std::string joined = from.front();
  for (std::size_t i = 1; i < from.size(); ++i) {
    joined += ' ';
    joined += from[i];
  }
  return joined;
}

}  // namespace wexla::cli
