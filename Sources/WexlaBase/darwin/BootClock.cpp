#include "../BootClock.hpp"

#include <time.h>

namespace wexla::base {

// CLOCK_MONOTONIC_RAW is the continuous clock in nanoseconds: it counts the time asleep.
BootClock::time_point BootClock::now() noexcept {
  return time_point(duration(static_cast<rep>(clock_gettime_nsec_np(CLOCK_MONOTONIC_RAW))));
}

}  // namespace wexla::base
