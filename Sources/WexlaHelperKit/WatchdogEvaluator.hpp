#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "BootClock.hpp"

namespace wexla::kit {

using Clock = base::BootClock;
using TimePoint = Clock::time_point;

// When the disable-sleep setting must be given up without being asked. Pure and reentrant.
namespace WatchdogEvaluator {

// True when the setting is on and no heartbeat came, or the last came more than `timeout`
// seconds before `now`. A heartbeat after `now` never resets.
bool shouldReset(bool disableSleepOn, std::optional<TimePoint> lastHeartbeat, TimePoint now,
                 double timeout);

// True under serious thermal pressure, or off mains with the battery at or below the floor.
bool shouldForceReleaseForSafety(std::int64_t batteryPercent, bool isOnAC, bool thermalSerious,
                                 std::int64_t hardBatteryFloor);

}  // namespace WatchdogEvaluator

namespace BootReconciler {

// True when the setting was left on and nobody holds it.
bool shouldResetOnBoot(bool disableSleepOn, bool hasLiveSession);

}  // namespace BootReconciler

// Seconds from `earlier` to `later`, negative when `earlier` lies after `later`.
double secondsBetween(TimePoint earlier, TimePoint later);

}  // namespace wexla::kit
