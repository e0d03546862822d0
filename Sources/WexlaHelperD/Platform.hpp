#pragma once

#include <memory>

#include "HelperDaemon.hpp"

namespace wexla::helper {

// launchd, XPC, dispatch and os_log on macOS; systemd, the system bus, sd-event and journald on
// Linux.
std::unique_ptr<Platform> makePlatform();

}  // namespace wexla::helper
