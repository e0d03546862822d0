#pragma once

#include <functional>
#include <optional>
#include <string>

#include "MenuModel.hpp"

namespace wexla::app {

// The helper's launchd job inside Wexla.app (Contents/Library/LaunchDaemons), which the
// application registers with the system itself on macOS 13 and later. Each call that can fail
// gives the system's reason, to show.

// Where it stands; `unavailable` before macOS 13.
HelperInstall bundledHelperState();
// Registers the job and, as the system then waits for an administrator to allow it, opens Login
// Items in System Settings.
std::optional<std::string> installBundledHelper();
// Unregisters the job, which stops the helper; `done` runs on the main run loop.
void uninstallBundledHelper(std::function<void(std::optional<std::string> problem)> done);
// Login Items in System Settings, where the person allows what waits for approval.
void openSystemSettingsLoginItems();

}  // namespace wexla::app
