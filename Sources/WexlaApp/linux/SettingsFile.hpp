#pragma once

#include <string>

#include "Settings.hpp"

namespace wexla::app {

// $XDG_CONFIG_HOME/wexla/settings.json, or ~/.config/wexla/settings.json.
std::string settingsPath();

// The settings of the file at `path`: the defaults when there is none, and the defaults with one
// log line saying why when it cannot be used. Never blocks and never reads more than a settings
// file can need, whatever lies at that path.
Settings loadSettings(const std::string& path);

}  // namespace wexla::app
