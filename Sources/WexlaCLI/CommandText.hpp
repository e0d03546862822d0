#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wexla::cli {

inline constexpr std::array<std::string_view, 3> helpWords{"-h", "--help", "help"};

// Unicode general category Nd (decimal digits of every script), Unicode 15.0.
bool isDecimalDigit(char32_t codePoint);

// The command text for the application from the tool's arguments, or nothing when the usage
// text is wanted. A lone duration (2h, 45m, 45ʼ, 45) becomes "extend <minutes>"; anything else
// is passed on as the arguments joined with blanks.
std::optional<std::string> commandText(const std::vector<std::string>& from);

}  // namespace wexla::cli
