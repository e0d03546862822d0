#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Observable.hpp"
#include "SleepBackend.hpp"
#include "WatchdogEvaluator.hpp"

namespace wexla::kit {

// Who asks: a caller's unique bus name on Linux, the number of its connection on macOS.
using CallerID = std::string;

// Why the setting was let go without a caller asking.
enum class ReleaseReason { heartbeatsStopped, batteryFloor, thermalPressure, callerLeft };

// Holds the disable-sleep setting for its callers, each with a hold and a heartbeat age of its
// own: on while at least one of them holds with fresh heartbeats, off when the last one lets go,
// leaves or falls silent, and off for everybody on low battery off mains, under thermal
// pressure, and when found left on at start. With one caller it is the single controller the
// application always had. Not thread-safe: the daemon calls it from one queue only.
class ClosedLidController {
 public:
  ClosedLidController(std::unique_ptr<SleepBackend> backend, double watchdogTimeout,
                      std::int64_t hardBatteryFloor);
  // Observers hold on to this object; it stays where it was made.
  ClosedLidController(const ClosedLidController&) = delete;
  ClosedLidController& operator=(const ClosedLidController&) = delete;

  // The caller's heartbeat is recorded before the backend is asked, and kept when it fails.
  bool requestEngage(const CallerID& caller, TimePoint now);
  // Ends the caller's hold. The setting goes off only when no other caller holds; when that
  // fails, nothing changes.
  bool requestRelease(const CallerID& caller, TimePoint now);
  // Refreshes the caller's hold while it lasts; never begins one, nor brings back one whose
  // heartbeats already stopped.
  void heartbeat(const CallerID& caller, TimePoint now);
  // The caller is gone: its hold ends, and with the last hold the setting. True when that let
  // go of the setting.
  bool callerLeft(const CallerID& caller, TimePoint now);
  // Drops the holds whose heartbeats stopped, then reads the live setting; safety comes before
  // the heartbeat rule. Never engages. The reason when it let go of a hold that was held.
  std::optional<ReleaseReason> watchdogTick(TimePoint now, std::int64_t batteryPercent, bool isOnAC,
                                            bool thermalSerious);
  void reconcileOnBoot(bool hasLiveSession);
  // Lets go of the setting and of every hold: the daemon is stopping.
  void releaseAll();

  bool engaged() const { return engaged_.value(); }
  std::optional<TimePoint> lastHeartbeat(const CallerID& caller) const;
  // Whether the caller holds with a heartbeat at most the timeout old.
  bool holds(const CallerID& caller, TimePoint now) const;

  // Fires just before every assignment to `engaged`.
  const Signal<>& objectWillChange() const { return objectWillChange_; }
  // The current value of `engaged` at once, then every assigned value.
  Subscription subscribeEngaged(std::function<void(const bool&)> receive) const {
    return engaged_.subscribe(std::move(receive));
  }

 private:
  bool anotherHolds(const CallerID& caller, TimePoint now) const;
  // Clears the state even when the backend fails, so the next tick tries again.
  void forceRelease();

  std::unique_ptr<SleepBackend> backend_;
  double watchdogTimeout_;
  std::int64_t hardBatteryFloor_;
  std::map<CallerID, TimePoint> heartbeats_;  // one hold per caller, by its last heartbeat
  Signal<> objectWillChange_;
  Published<bool> engaged_{false, objectWillChange_};
};

}  // namespace wexla::kit
