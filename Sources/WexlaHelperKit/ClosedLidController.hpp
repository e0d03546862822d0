#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "Observable.hpp"
#include "SleepBackend.hpp"
#include "WatchdogEvaluator.hpp"

namespace wexla::kit {

// Holds the disable-sleep setting for the application: on when asked, off when asked, and off
// by itself when heartbeats stop, on low battery off mains, under thermal pressure, and when
// found left on at start. Not thread-safe: the daemon calls it from one queue only.
class ClosedLidController {
 public:
  ClosedLidController(std::unique_ptr<SleepBackend> backend, double watchdogTimeout,
                      std::int64_t hardBatteryFloor);
  // Observers hold on to this object; it stays where it was made.
  ClosedLidController(const ClosedLidController&) = delete;
  ClosedLidController& operator=(const ClosedLidController&) = delete;

  // The heartbeat is recorded before the backend is asked, and kept when it fails.
  bool requestEngage(TimePoint now);
  // A failed release changes nothing.
  bool requestRelease();
  void heartbeat(TimePoint now);
  // Reads the live setting; safety comes before the heartbeat rule. Never engages.
  void watchdogTick(TimePoint now, std::int64_t batteryPercent, bool isOnAC, bool thermalSerious);
  void reconcileOnBoot(bool hasLiveSession);

  bool engaged() const { return engaged_.value(); }
  std::optional<TimePoint> lastHeartbeat() const { return lastHeartbeat_; }

  // Fires just before every assignment to `engaged`.
  const Signal<>& objectWillChange() const { return objectWillChange_; }
  // The current value of `engaged` at once, then every assigned value.
  Subscription subscribeEngaged(std::function<void(const bool&)> receive) const {
    return engaged_.subscribe(std::move(receive));
  }

 private:
  // Clears the state even when the backend fails, so the next tick tries again.
  void forceRelease();

  std::unique_ptr<SleepBackend> backend_;
  double watchdogTimeout_;
  std::int64_t hardBatteryFloor_;
  std::optional<TimePoint> lastHeartbeat_;
  Signal<> objectWillChange_;
  Published<bool> engaged_{false, objectWillChange_};
};

}  // namespace wexla::kit
