#pragma once

#include <chrono>

namespace wexla::base {

// The clock the heartbeats are timed on: it never steps back and it keeps counting while the
// machine sleeps (CLOCK_BOOTTIME on Linux, the continuous clock on macOS). Setting the wall clock
// changes no heartbeat's age, so a clock set back cannot keep the machine awake.
struct BootClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<BootClock>;
  static constexpr bool is_steady = true;

  static time_point now() noexcept;
};

}  // namespace wexla::base
