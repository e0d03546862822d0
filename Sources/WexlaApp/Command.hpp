#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wexla::app {

// What a command text asks of the application.
struct Command {
  enum class Kind { on, off, extend, busy, whileProcess, status, statusJson, unknown };
  Kind kind = Kind::unknown;
  // extend: the minutes, saturated; busy: the minutes asked for, nothing for the setting.
  std::optional<std::int64_t> minutes;
  // while: the process number (nothing when it cannot be one), and the word as received.
  std::optional<std::int32_t> pid;
  std::string pidText;
  // False for the heartbeat texts: `wexlactl` does not wait for them, and an answer would be
  // taken as the reply by another `wexlactl` waiting at that moment.
  bool answered = true;
};

// The longest agent hold one heartbeat may ask for, in minutes.
inline constexpr std::int64_t kMaxBusyMinutes = 1440;

// Words are split at runs of blanks and matched exactly.
Command parseCommand(std::string_view text);

}  // namespace wexla::app
