#pragma once

#include <systemd/sd-event.h>

#include <optional>
#include <string>
#include <utility>

#include "RepeatLimiter.hpp"
#include "SdBus.hpp"

namespace wexla::app {

// The application's log: the journal with the helper's fields, and standard error when not
// started by the service manager.
void log(int priority, const std::string& message);

// For lines any local process can multiply (each command text may change the helper link): a
// few a minute, each saying how many changes it stands for; the last one held back is written
// once the minute is over, so the log always ends on where things stand.
class LimitedLog {
 public:
  explicit LimitedLog(sd_event* event);
  LimitedLog(const LimitedLog&) = delete;
  LimitedLog& operator=(const LimitedLog&) = delete;

  void write(int priority, const std::string& message);

 private:
  void writeCounted(int priority, const std::string& message, std::uint64_t count);
  static int onWindowEnd(sd_event_source*, std::uint64_t, void* userdata);

  base::RepeatLimiter limiter_;
  std::optional<std::pair<int, std::string>> heldBack_;  // the latest line not written
  sd::EventSource timer_;
};

}  // namespace wexla::app
