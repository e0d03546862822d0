#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "ClosedLidController.hpp"
#include "DaemonPower.hpp"
#include "SleepBackend.hpp"

// The team whose signed application the helper admits; the build sets its own (WEXLA_TEAM_ID).
#ifndef WEXLA_TEAM_ID
#define WEXLA_TEAM_ID "K7QW2ZR9TD"
#endif

namespace wexla::helper {

inline constexpr std::string_view kMachService = "dev.wexla.helper";
inline constexpr std::string_view kTeamID = WEXLA_TEAM_ID;
inline constexpr std::string_view kAppBundleID = "dev.wexla.app";
inline constexpr std::int64_t kWatchdogTickSeconds = 5;
inline constexpr double kWatchdogTimeoutSeconds = 15.0;
inline constexpr std::int64_t kHardBatteryFloorPercent = 5;

inline constexpr std::string_view kStartedMessage = "helper started; boot reconciliation done";
inline constexpr std::string_view kRejectedMessage = "rejected XPC peer (signature mismatch)";
// "setDisableSleep(true) -> false": the requested value, then the result.
std::string setDisableSleepMessage(bool requested, bool result);

enum class LogLevel { info, error };

// The platform's log: subsystem "dev.wexla.helper", category "daemon".
class Log {
 public:
  virtual ~Log() = default;
  virtual void write(LogLevel level, std::string_view message) = 0;
};

// What a set request, a heartbeat and a status query do. Set and heartbeat run on the daemon's
// one queue, with the watchdog; the status query may run elsewhere, as it touches no state.
class HelperService {
 public:
  using BackendFactory = std::function<std::unique_ptr<kit::SleepBackend>()>;
  using Clock = std::function<kit::TimePoint()>;

  HelperService(kit::ClosedLidController& controller, Log& log, BackendFactory freshBackend,
                Clock clock);

  bool setDisableSleep(bool on);
  bool heartbeat();
  // The machine's live setting, from a fresh backend: not what the controller believes.
  bool currentDisableSleep() const;

 private:
  kit::ClosedLidController& controller_;
  Log& log_;
  BackendFactory freshBackend_;
  Clock clock_;
};

// Lets in only peers that pass the platform's check against the application's requirement.
class ListenerDelegate {
 public:
  // The platform's check of one peer against the requirement text.
  using PeerCheck = std::function<bool(const std::string& requirement)>;

  ListenerDelegate(HelperService service, Log& log);

  HelperService& service() { return service_; }
  const std::string& requirement() const { return requirement_; }

  // Logs every refusal.
  bool shouldAcceptNewConnection(const PeerCheck& peerPasses);

 private:
  HelperService service_;
  const std::string requirement_;
  Log& log_;
};

// What the daemon needs of its platform; the start-up sequence itself is the same everywhere.
class Platform {
 public:
  virtual ~Platform() = default;
  virtual std::unique_ptr<Log> makeLog() = 0;
  virtual std::unique_ptr<kit::SleepBackend> makeSleepBackend() = 0;
  virtual kit::DaemonPower::Snapshot powerSnapshot() = 0;
  virtual kit::TimePoint now() = 0;
  // A repeating timer on the daemon's queue: first `tick` one interval after this call, then
  // every interval, with no leeway.
  virtual void startTimer(std::chrono::seconds interval, std::function<void()> tick) = 0;
  // Starts taking requests for the delegate's service; the delegate outlives the listener.
  virtual void startListener(ListenerDelegate& delegate) = 0;
  // Serves the queue; returns only when the platform's loop fails.
  virtual int runForever() = 0;
};

// The daemon's start-up, then its main loop: the boot reconciliation and its log line come
// before any tick, and the timer runs before any client can connect.
int runDaemon(Platform& platform);

}  // namespace wexla::helper
