#pragma once

// The application's record in the journal, with the fields of the macOS log:
//   journalctl --user -t wexla
#include <sys/syslog.h>

#include <string>

#include "Journal.hpp"

namespace wexla::app {

inline void log(int priority, const std::string& message) {
  sd::writeJournal({"wexla", "dev.wexla.app", "app"}, priority, message);
}

}  // namespace wexla::app
