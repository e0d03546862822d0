#pragma once

#include <chrono>

#include "BootClock.hpp"

namespace wexla::app {

// Holds expire on the helper's clock: it never steps back and it counts time asleep, so a wall
// clock set back cannot stretch a hold and a night in a bag cannot shorten one.
using BootClock = base::BootClock;

using Instant = BootClock::time_point;
// In microseconds on every platform, the period of Apple's system clock: arithmetic that would
// not build on a Mac does not build anywhere.
using WallTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;

// One reading of both clocks: `boot` for expiry, `wall` only for showing times to people.
struct Now {
  Instant boot;
  WallTime wall;

  static Now current() {
    return {BootClock::now(),
            std::chrono::floor<WallTime::duration>(std::chrono::system_clock::now())};
  }
  // The wall-clock time at which `instant` falls, as seen from this reading.
  WallTime wallAt(Instant instant) const {
    return wall + std::chrono::duration_cast<WallTime::duration>(instant - boot);
  }
};

}  // namespace wexla::app
