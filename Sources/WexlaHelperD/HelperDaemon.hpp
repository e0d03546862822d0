#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "ClosedLidController.hpp"
#include "DaemonPower.hpp"
#include "IdleRule.hpp"
#include "RepeatLimiter.hpp"
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
// How long a helper started on demand stays with nothing held and no call.
inline constexpr std::chrono::seconds kIdleExit{60};

inline constexpr std::string_view kStartedMessage = "helper started; boot reconciliation done";
inline constexpr std::string_view kRejectedMessage = "rejected XPC peer (signature mismatch)";
inline constexpr std::string_view kStoppingMessage = "released: stopping";
// Without the bus nobody can reach the helper: it ends with a failure, so that it is started again.
inline constexpr std::string_view kLostBusMessage = "stopping: the connection to the bus was lost";
inline constexpr std::string_view kIdleMessage =
    "idle for a minute with nothing held: ending until the next call";
// "setDisableSleep(true) -> false": the requested value, then the result.
std::string setDisableSleepMessage(bool requested, bool result);
// The refusal line standing for `refusals` refusals: the platform's `refusal`, followed by
// " (37 times)" when it stands for more than one.
std::string rejectedMessage(std::string_view refusal, std::uint64_t refusals);
// Why the setting was let go: "released: heartbeats stopped", and so on.
std::string releasedMessage(kit::ReleaseReason reason);

enum class LogLevel { info, error };

// The platform's log: subsystem "dev.wexla.helper", category "daemon".
class Log {
 public:
  virtual ~Log() = default;
  virtual void write(LogLevel level, std::string_view message) = 0;
};

// What a set request, a heartbeat and a status query of one caller do, and its leaving. All but
// the status query run on the daemon's one queue, with the watchdog; the status query may run
// elsewhere, as it touches no state.
class HelperService {
 public:
  using BackendFactory = std::function<std::unique_ptr<kit::SleepBackend>()>;
  using Clock = std::function<kit::TimePoint()>;

  HelperService(kit::ClosedLidController& controller, Log& log, BackendFactory freshBackend,
                Clock clock);

  bool setDisableSleep(const kit::CallerID& caller, bool on);
  bool heartbeat(const kit::CallerID& caller);
  // Whether the caller holds and the machine's live setting, read from a fresh backend, is on:
  // what the controller believes is not enough, and another caller's hold is not this one's.
  bool currentDisableSleep(const kit::CallerID& caller) const;
  // The caller's connection is gone: its hold ends with it.
  void callerLeft(const kit::CallerID& caller);
  // Whether the caller holds now, with fresh heartbeats.
  bool holds(const kit::CallerID& caller) const;
  kit::TimePoint now() const { return clock_(); }

 private:
  kit::ClosedLidController& controller_;
  Log& log_;
  BackendFactory freshBackend_;
  Clock clock_;
};

using base::RepeatLimiter;

// Lets in only peers that pass the platform's check against the application's requirement.
class ListenerDelegate {
 public:
  // The platform's check of one peer against the requirement text.
  using PeerCheck = std::function<bool(const std::string& requirement)>;

  ListenerDelegate(HelperService service, Log& log);

  HelperService& service() { return service_; }
  const std::string& requirement() const { return requirement_; }

  // Logs the refusals, a few lines a minute at most: any local user can be refused at will.
  // `refusal` is the line that says who was refused and why.
  bool shouldAcceptNewConnection(const PeerCheck& peerPasses,
                                 std::string_view refusal = kRejectedMessage);
  // Logs the refusals held back, once a line may be written again. From any queue.
  void logHeldBackRefusals(kit::TimePoint now);

 private:
  HelperService service_;
  const std::string requirement_;
  Log& log_;
  std::mutex refusalsLock_;  // on macOS the listener's queue is not the daemon's
  RepeatLimiter refusals_;
  std::string lastRefusal_;  // what a line for refusals held back says
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
  // Serves the queue. Asked to stop (SIGTERM, SIGINT, SIGHUP), it runs `stopping` on the queue
  // and ends the process with status 0; it returns non-zero, after logging why, when the loop
  // fails or the connection the requests come over is lost, so that the service manager starts
  // the daemon again.
  virtual int runForever(std::function<void()> stopping) = 0;
  // Where the helper rests (Linux), the timer follows `plan`, asked at once, then after each
  // call (true) and each tick (false); ending, it stops as SIGTERM does. Elsewhere (macOS) the
  // timer keeps its interval.
  virtual void rest(std::function<kit::IdleRule::Next(bool called)> plan) {
    static_cast<void>(plan);
  }
};

// The daemon's start-up, then its main loop: the boot reconciliation and its log line come
// before any tick, and the timer runs before any client can connect. A stopped daemon lets go
// of the setting first: on macOS it would outlive the daemon, across reboots. Started on demand
// (`exitWhenIdle`), it ends after kIdleExit with nothing held and no call.
int runDaemon(Platform& platform, bool exitWhenIdle = false);

}  // namespace wexla::helper
