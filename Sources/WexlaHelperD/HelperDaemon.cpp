#include "HelperDaemon.hpp"

#include <mutex>
#include <utility>

#include "XPCPeerAuth.hpp"

namespace wexla::helper {

std::string setDisableSleepMessage(bool requested, bool result) {
  return std::string("setDisableSleep(") + (requested ? "true" : "false") + ") -> " +
         (result ? "true" : "false");
}

std::string rejectedMessage(std::uint64_t refusals) {
  std::string text(kRejectedMessage);
  if (refusals > 1) text += " (" + std::to_string(refusals) + " times)";
  return text;
}

HelperService::HelperService(kit::ClosedLidController& controller, Log& log,
                             BackendFactory freshBackend, Clock clock)
    : controller_(controller),
      log_(log),
      freshBackend_(std::move(freshBackend)),
      clock_(std::move(clock)) {}

bool HelperService::setDisableSleep(bool on) {
  const bool result = on ? controller_.requestEngage(clock_()) : controller_.requestRelease();
  log_.write(LogLevel::info, setDisableSleepMessage(on, result));
  return result;
}

bool HelperService::heartbeat() {
  controller_.heartbeat(clock_());
  return true;
}

bool HelperService::currentDisableSleep() const { return freshBackend_()->isDisableSleepOn(); }

ListenerDelegate::ListenerDelegate(HelperService service, Log& log)
    : service_(std::move(service)),
      requirement_(kit::XPCPeerAuth::requirement(kTeamID, kAppBundleID)),
      log_(log) {}

bool ListenerDelegate::shouldAcceptNewConnection(const PeerCheck& peerPasses) {
  if (peerPasses(requirement_)) return true;
  const std::lock_guard<std::mutex> guard(refusalsLock_);
  if (const std::uint64_t count = refusals_.occurred(service_.now()); count > 0) {
    log_.write(LogLevel::error, rejectedMessage(count));
  }
  return false;
}

void ListenerDelegate::logHeldBackRefusals(kit::TimePoint now) {
  const std::lock_guard<std::mutex> guard(refusalsLock_);
  if (const std::uint64_t count = refusals_.heldBack(now); count > 0) {
    log_.write(LogLevel::error, rejectedMessage(count));
  }
}

int runDaemon(Platform& platform) {
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
    controller.watchdogTick(now, snapshot.batteryPercent, snapshot.isOnAC, snapshot.thermalSerious);
    delegate.logHeldBackRefusals(now);
  });
  platform.startListener(delegate);
  return platform.runForever([&] { controller.requestRelease(); });
}

}  // namespace wexla::helper
