#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wexla::app {

struct Settings {
  // How long one agent heartbeat holds the machine when it names no time, in minutes.
  std::int64_t busyMinutes = 10;
  // Whether the person is told when the machine stops being held, and when it is held again.
  bool notifications = true;
};

struct SettingsReading {
  Settings settings;
  std::string problem;  // why the defaults are used instead of the file; empty when all is well
};

// The settings file: a JSON object; members it does not know are left alone. A file it cannot
// use gives the defaults, a member it cannot use gives that member's default, and each says why.
SettingsReading parseSettings(std::string_view text);

// A busyMinutes value from another store (the macOS user defaults): nothing gives the default.
SettingsReading settingsFromBusyMinutes(std::optional<std::int64_t> busyMinutes);

}  // namespace wexla::app
