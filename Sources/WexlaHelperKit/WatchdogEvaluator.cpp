#include "WatchdogEvaluator.hpp"

namespace wexla::kit {

double secondsBetween(TimePoint earlier, TimePoint later) {
  return std::chrono::duration<double>(later - earlier).count();
}

bool WatchdogEvaluator::shouldReset(bool disableSleepOn, std::optional<TimePoint> lastHeartbeat,
                                    TimePoint now, double timeout) {
  if (!disableSleepOn) return false;
  if (!lastHeartbeat) return true;
  // A timeout that is not a number compares false: no reset.
  return secondsBetween(*lastHeartbeat, now) > timeout;
}

bool WatchdogEvaluator::shouldForceReleaseForSafety(std::int64_t batteryPercent, bool isOnAC,
                                                    bool thermalSerious,
                                                    std::int64_t hardBatteryFloor) {
  return thermalSerious || (!isOnAC && batteryPercent <= hardBatteryFloor);
}

bool BootReconciler::shouldResetOnBoot(bool disableSleepOn, bool hasLiveSession) {
  return disableSleepOn && !hasLiveSession;
}

}  // namespace wexla::kit
