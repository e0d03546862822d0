#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "AppTime.hpp"

namespace wexla::app {

// What the helper said to one call: its Boolean, or why there was none.
enum class HelperAnswer { yes, no, unreachable, refused };

// The application's side of the helper's three calls. Every call returns at once; its reply
// runs later on the application's loop, exactly once, with the time it arrived.
class HelperConnection {
 public:
  using Reply = std::function<void(HelperAnswer, Instant)>;
  virtual ~HelperConnection() = default;
  virtual void setDisableSleep(bool on, Reply reply) = 0;
  // No answer is awaited: the helper answers every heartbeat with true, and a helper that went
  // away shows through HelperLink::lost and the next check. So a heartbeat costs one wake-up.
  virtual void heartbeat() = 0;
  virtual void currentDisableSleep(Reply reply) = 0;
  // On the way out: lets the machine sleep again, waiting for the helper at most `limit`.
  virtual void releaseBeforeExit(std::chrono::milliseconds limit) = 0;
};

// Where the link stands. `pending`: the first request of a hold has not been answered yet.
// `released`: the helper let go by itself (battery floor, heat, its own restart) or could not
// hold.
enum class LinkState { idle, pending, held, released, unreachable, refused };

// Keeps the helper holding the machine while the application has a hold: engages when a hold
// begins, heartbeats every 5 s, checks the live setting every 15 s, retries after 30 s when the
// helper is unreachable or refuses, re-engages at most once a minute after it let go, and
// releases once when the last hold ends.
class HelperLink {
 public:
  static constexpr std::chrono::seconds kHeartbeatEvery{5};
  static constexpr std::chrono::seconds kCheckEvery{15};
  static constexpr std::chrono::seconds kRetryAfterFailure{30};
  static constexpr std::chrono::seconds kRetryAfterLetGo{60};
  static constexpr std::chrono::milliseconds kExitReleaseLimit{1000};

  // `changed` runs after every change of state, with the time.
  HelperLink(HelperConnection& connection, std::function<void(Instant)> changed);
  HelperLink(const HelperLink&) = delete;
  HelperLink& operator=(const HelperLink&) = delete;

  void holdsChanged(bool active, Instant now);
  void tick(Instant now);
  // The helper went away (left the bus, the connection was interrupted).
  void lost(Instant now);
  // Releases, bounded, unless nothing was ever asked of the helper since the last release.
  void releaseBeforeExit();

  LinkState state() const { return state_; }
  std::optional<Instant> nextWake() const;

 private:
  void engage();
  void fail(HelperAnswer answer, Instant now);
  void enter(LinkState state, Instant now);
  HelperConnection::Reply replyFor(void (HelperLink::*handle)(HelperAnswer, Instant));
  void engaged(HelperAnswer answer, Instant now);
  void checked(HelperAnswer answer, Instant now);

  HelperConnection& connection_;
  std::function<void(Instant)> changed_;
  LinkState state_ = LinkState::idle;
  // Answers to calls made before the last change of course are stale and ignored.
  std::uint64_t generation_ = 0;
  std::optional<Instant> nextHeartbeat_;
  std::optional<Instant> nextCheck_;
  std::optional<Instant> retryAt_;
};

}  // namespace wexla::app
