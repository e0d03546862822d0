#include "HelperDaemon.hpp"

#include <cstdio>
#include <mutex>
#include <utility>

#include "XPCPeerAuth.hpp"

namespace wexla::helper {

std::string setDisableSleepMessage(bool requested, bool result) {
  return std::string("setDisableSleep(") + (requested ? "true" : "false") + ") -> " +
         (result ? "true" : "false");
}

std::string rejectedMessage(std::string_view refusal, std::uint64_t refusals) {
  std::string text(refusal);
  if (refusals > 1) text += " (" + std::to_string(refusals) + " times)";
  return text;
}

std::string releasedMessage(kit::ReleaseReason reason) {
  switch (reason) {
    case kit::ReleaseReason::heartbeatsStopped:
      return "released: heartbeats stopped";
    case kit::ReleaseReason::batteryFloor:
      return "released: battery at or below " + std::to_string(kHardBatteryFloorPercent) +
             "% on battery power";
    case kit::ReleaseReason::thermalPressure:
      return "released: thermal pressure serious";
    case kit::ReleaseReason::callerLeft:
      break;
  }
  return "released: the last caller holding it left";
}

HelperService::HelperService(kit::ClosedLidController& controller, Log& log,
                             BackendFactory freshBackend, Clock clock)
    : controller_(controller),
      log_(log),
      freshBackend_(std::move(freshBackend)),
      clock_(std::move(clock)) {}

bool HelperService::setDisableSleep(const kit::CallerID& caller, bool on) {
  const bool result = on ? controller_.requestEngage(caller, clock_())
                         : controller_.requestRelease(caller, clock_());
  log_.write(LogLevel::info, setDisableSleepMessage(on, result));
  return result;
}

bool HelperService::heartbeat(const kit::CallerID& caller) {
  controller_.heartbeat(caller, clock_());
  return true;
}

bool HelperService::currentDisableSleep(const kit::CallerID& caller) const {
  return holds(caller) && freshBackend_()->isDisableSleepOn();
}

void HelperService::callerLeft(const kit::CallerID& caller) {
  if (controller_.callerLeft(caller, clock_())) {
    log_.write(LogLevel::info, releasedMessage(kit::ReleaseReason::callerLeft));
  }
}

bool HelperService::holds(const kit::CallerID& caller) const {
  return controller_.holds(caller, clock_());
}

ListenerDelegate::ListenerDelegate(HelperService service, Log& log)
    : service_(std::move(service)),
      requirement_(kit::XPCPeerAuth::requirement(kTeamID, kAppBundleID)),
      log_(log) {}

bool ListenerDelegate::shouldAcceptNewConnection(const PeerCheck& peerPasses,
                                                 std::string_view refusal) {
  if (peerPasses(requirement_)) return true;
  const std::lock_guard<std::mutex> guard(refusalsLock_);
  lastRefusal_ = refusal;
  if (const std::uint64_t count = refusals_.occurred(service_.now()); count > 0) {
    log_.write(LogLevel::error, rejectedMessage(lastRefusal_, count));
  }
  return false;
}

void ListenerDelegate::logHeldBackRefusals(kit::TimePoint now) {
  const std::lock_guard<std::mutex> guard(refusalsLock_);
  if (const std::uint64_t count = refusals_.heldBack(now); count > 0) {
    log_.write(LogLevel::error, rejectedMessage(lastRefusal_, count));
  }
}

int runDaemon(Platform& platform, bool exitWhenIdle) {
  const std::unique_ptr<Log> log = platform.makeLog();
  kit::ClosedLidController controller(platform.makeSleepBackend(), kWatchdogTimeoutSeconds,
                                      kHardBatteryFloorPercent);
  controller.reconcileOnBoot(false);
  log->write(LogLevel::info, kStartedMessage);

  ListenerDelegate delegate(HelperService(
                                controller, *log, [&] { return platform.makeSleepBackend(); },
                                [&] { return platform.now(); }),
                            *log);
  platform.startTimer(std::chrono::seconds(kWatchdogTickSeconds), [&] {
    // The snapshot first, then the time.
    const kit::DaemonPower::Snapshot snapshot = platform.powerSnapshot();
    const kit::TimePoint now = platform.now();
    if (const auto reason = controller.watchdogTick(now, snapshot.batteryPercent, snapshot.isOnAC,
                                                    snapshot.thermalSerious)) {
      log->write(LogLevel::info, releasedMessage(*reason));
    }
    delegate.logHeldBackRefusals(now);
  });
  platform.startListener(delegate);
  kit::IdleRule idle(exitWhenIdle ? std::optional(kIdleExit) : std::nullopt);
  platform.rest([&](bool called) {
    const kit::TimePoint now = platform.now();
    const kit::IdleRule::Next next = idle.next(controller.engaged(), called, now);
    if (next.action == kit::IdleRule::Action::exit) {
      delegate.logHeldBackRefusals(now);
      log->write(LogLevel::info, kIdleMessage);
    }
    return next;
  });
  return platform.runForever([&] {
    controller.releaseAll();
    log->write(LogLevel::info, kStoppingMessage);
  });
}

}  // namespace wexla::helper
