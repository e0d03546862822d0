#include <time.h>

#include <cstdint>

#include "AppTime.hpp"

namespace wexla::app {

// The continuous clock (mach_continuous_time in nanoseconds): it counts time asleep and is never
// adjusted, like CLOCK_BOOTTIME on Linux.
BootClock::time_point BootClock::now() {
  const auto nanos = static_cast<std::int64_t>(clock_gettime_nsec_np(CLOCK_MONOTONIC_RAW));
  return time_point(std::chrono::nanoseconds(nanos));
}

}  // namespace wexla::app
