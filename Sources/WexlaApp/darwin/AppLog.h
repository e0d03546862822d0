#pragma once

// The application's record in the unified log, subsystem "dev.wexla.app":
//   log stream --predicate 'subsystem == "dev.wexla.app"' --info
#include <os/log.h>

#include <string>

namespace wexla::app {

inline os_log_t appLog() {
  static os_log_t record = os_log_create("dev.wexla.app", "app");
  return record;
}

// The texts hold nothing private; without %{public}s they would show as <private>.
inline void logNotice(const std::string& text) { os_log(appLog(), "%{public}s", text.c_str()); }
inline void logError(const std::string& text) {
  os_log_error(appLog(), "%{public}s", text.c_str());
}

}  // namespace wexla::app
