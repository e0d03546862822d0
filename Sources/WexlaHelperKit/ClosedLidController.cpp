#include "ClosedLidController.hpp"

#include <algorithm>
#include <utility>

namespace wexla::kit {

ClosedLidController::ClosedLidController(std::unique_ptr<SleepBackend> backend,
                                         double watchdogTimeout, std::int64_t hardBatteryFloor)
    : backend_(std::move(backend)),
      watchdogTimeout_(watchdogTimeout),
      hardBatteryFloor_(hardBatteryFloor) {}

bool ClosedLidController::requestEngage(const CallerID& caller, TimePoint now) {
  heartbeats_[caller] = now;
  const bool on = backend_->setDisableSleep(true);
  engaged_.assign(on);
  return on;
}

bool ClosedLidController::requestRelease(const CallerID& caller, TimePoint now) {
  if (anotherHolds(caller, now)) {
    heartbeats_.erase(caller);
    return true;
  }
  if (!backend_->setDisableSleep(false)) return false;
  engaged_.assign(false);
  heartbeats_.clear();  // what is left fell silent
  return true;
}

void ClosedLidController::heartbeat(const CallerID& caller, TimePoint now) {
  if (holds(caller, now)) heartbeats_[caller] = now;
}

bool ClosedLidController::callerLeft(const CallerID& caller, TimePoint now) {
  if (heartbeats_.erase(caller) == 0 || anotherHolds(caller, now) || !engaged_.value()) {
    return false;
  }
  forceRelease();
  return true;
}

std::optional<ReleaseReason> ClosedLidController::watchdogTick(TimePoint now,
                                                               std::int64_t batteryPercent,
                                                               bool isOnAC, bool thermalSerious) {
  const bool held = engaged_.value() || !heartbeats_.empty();
  std::erase_if(heartbeats_, [&](const auto& hold) {
    return WatchdogEvaluator::shouldReset(true, hold.second, now, watchdogTimeout_);
  });
  if (!backend_->isDisableSleepOn()) {
    engaged_.assign(false);
    return std::nullopt;
  }
  std::optional<ReleaseReason> reason;
  if (WatchdogEvaluator::shouldForceReleaseForSafety(batteryPercent, isOnAC, thermalSerious,
                                                     hardBatteryFloor_)) {
    reason = thermalSerious ? ReleaseReason::thermalPressure : ReleaseReason::batteryFloor;
  } else if (heartbeats_.empty()) {
    reason = ReleaseReason::heartbeatsStopped;
  } else {
    return std::nullopt;
  }
  forceRelease();
  // A retry after a release that failed, or a setting nobody here held, is no news.
  return held ? reason : std::nullopt;
}

void ClosedLidController::reconcileOnBoot(bool hasLiveSession) {
  if (BootReconciler::shouldResetOnBoot(backend_->isDisableSleepOn(), hasLiveSession)) {
    forceRelease();
  }
}

void ClosedLidController::releaseAll() { forceRelease(); }

std::optional<TimePoint> ClosedLidController::lastHeartbeat(const CallerID& caller) const {
  const auto hold = heartbeats_.find(caller);
  if (hold == heartbeats_.end()) return std::nullopt;
  return hold->second;
}

bool ClosedLidController::holds(const CallerID& caller, TimePoint now) const {
  return !WatchdogEvaluator::shouldReset(true, lastHeartbeat(caller), now, watchdogTimeout_);
}

bool ClosedLidController::anotherHolds(const CallerID& caller, TimePoint now) const {
  return std::any_of(heartbeats_.begin(), heartbeats_.end(), [&](const auto& hold) {
    return hold.first != caller && holds(hold.first, now);
  });
}

void ClosedLidController::forceRelease() {
  backend_->setDisableSleep(false);  // a failure is retried by the next tick
  engaged_.assign(false);
  heartbeats_.clear();
}

}  // namespace wexla::kit
