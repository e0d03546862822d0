#include "ClosedLidController.hpp"

#include <utility>

namespace wexla::kit {

ClosedLidController::ClosedLidController(std::unique_ptr<SleepBackend> backend,
                                         double watchdogTimeout, std::int64_t hardBatteryFloor)
    : backend_(std::move(backend)),
      watchdogTimeout_(watchdogTimeout),
      hardBatteryFloor_(hardBatteryFloor) {}

bool ClosedLidController::requestEngage(TimePoint now) {
  lastHeartbeat_ = now;
  const bool on = backend_->setDisableSleep(true);
  engaged_.assign(on);
  return on;
}

bool ClosedLidController::requestRelease() {
  if (!backend_->setDisableSleep(false)) return false;
  engaged_.assign(false);
  lastHeartbeat_.reset();
  return true;
}

void ClosedLidController::heartbeat(TimePoint now) { lastHeartbeat_ = now; }

void ClosedLidController::watchdogTick(TimePoint now, std::int64_t batteryPercent, bool isOnAC,
                                       bool thermalSerious) {
  if (!backend_->isDisableSleepOn()) {
    engaged_.assign(false);
    return;
  }
  if (WatchdogEvaluator::shouldForceReleaseForSafety(batteryPercent, isOnAC, thermalSerious,
                                                     hardBatteryFloor_) ||
      WatchdogEvaluator::shouldReset(true, lastHeartbeat_, now, watchdogTimeout_)) {
    forceRelease();
  }
}

void ClosedLidController::reconcileOnBoot(bool hasLiveSession) {
  if (BootReconciler::shouldResetOnBoot(backend_->isDisableSleepOn(), hasLiveSession)) {
    forceRelease();
  }
}

void ClosedLidController::forceRelease() {
  backend_->setDisableSleep(false);  // a failure is retried by the next tick
  engaged_.assign(false);
  lastHeartbeat_.reset();
}

}  // namespace wexla::kit
