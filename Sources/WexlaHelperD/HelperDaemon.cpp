#include "HelperDaemon.hpp"

#include <utility>

#include "XPCPeerAuth.hpp"

namespace wexla::helper {

std::string setDisableSleepMessage(bool requested, bool result) {
  return std::string("setDisableSleep(") + (requested ? "true" : "false") + ") -> " +
         (result ? "true" : "false");
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
  log_.write(LogLevel::error, kRejectedMessage);
  return false;
}

int runDaemon(Platform& platform) {
  const std::unique_ptr<Log> log = platform.makeLog();
  kit::ClosedLidController controller(platform.makeSleepBackend(), kWatchdogTimeoutSeconds,
                                      kHardBatteryFloorPercent);
  controller.reconcileOnBoot(false);
  log->write(LogLevel::info, kStartedMessage);

  platform.startTimer(std::chrono::seconds(kWatchdogTickSeconds), [&] {
    // The snapshot first, then the time.
    const kit::DaemonPower::Snapshot snapshot = platform.powerSnapshot();
    const kit::TimePoint now = platform.now();
    controller.watchdogTick(now, snapshot.batteryPercent, snapshot.isOnAC, snapshot.thermalSerious);
  });

  ListenerDelegate delegate(HelperService(
                                controller, *log, [&] { return platform.makeSleepBackend(); },
                                [&] { return platform.now(); }),
                            *log);
  platform.startListener(delegate);
  return platform.runForever([&] { controller.requestRelease(); });
}

}  // namespace wexla::helper
