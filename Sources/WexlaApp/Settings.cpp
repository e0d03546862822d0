#include "Settings.hpp"

#include <nlohmann/json.hpp>

#include "Command.hpp"

namespace wexla::app {

namespace {

const std::string kRangeProblem =
    "busyMinutes must be a whole number of minutes from 1 to " + std::to_string(kMaxBusyMinutes);

// A settings file needs a few levels; far deeper nesting only costs memory to build.
constexpr int kMaxDepth = 32;

bool nestedTooDeeply(std::string_view text) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

SettingsReading settingsFromBusyMinutes(std::optional<std::int64_t> busyMinutes) {
  SettingsReading reading;
  if (!busyMinutes) return reading;
  if (*busyMinutes < 1 || *busyMinutes > kMaxBusyMinutes) {
    reading.problem = kRangeProblem;
  } else {
    reading.settings.busyMinutes = *busyMinutes;
  }
  return reading;
}

SettingsReading parseSettings(std::string_view text) {
  if (nestedTooDeeply(text)) {
    return {{}, "it is nested more than " + std::to_string(kMaxDepth) + " levels deep"};
  }
  const nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
  if (document.is_discarded()) return {{}, "it is not valid JSON"};
  if (!document.is_object()) return {{}, "it is not a JSON object"};
  const auto minutes = document.find("busyMinutes");
  if (minutes == document.end()) return {};
  if (!minutes->is_number_integer()) return {{}, kRangeProblem};
  return settingsFromBusyMinutes(minutes->get<std::int64_t>());
}

}  // namespace wexla::app
