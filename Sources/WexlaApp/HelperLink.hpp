#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "AppTime.hpp"

namespace wexla::app {

// What the helper said to one call: its Boolean, or why there was none. `unchecked`: the helper
// could not get an answer about this application from the system's authority (not running, too
// slow), which is no refusal. `busy`: the call could not be made this time for a local reason
// (the bus's limit of calls under way), which says nothing of the helper: try again soon.
enum class HelperAnswer { yes, no, unreachable, refused, unchecked, busy };

// The application's side of the helper's three calls. Every call returns at once; its reply
// runs later on the application's loop, exactly once, with the time it arrived.
class HelperConnection {
 public:
  using Reply = std::function<void(HelperAnswer, Instant)>;
  // Long enough for a helper that runs the platform's power tool, short enough that a hung
  // helper shows as unreachable before its own watchdog would let go.
  static constexpr std::chrono::seconds kCallLimit{10};

  virtual ~HelperConnection() = default;
  virtual void setDisableSleep(bool on, Reply reply) = 0;
  // No answer is awaited: the helper answers every heartbeat with true, and a helper that went
  // away shows through HelperLink::lost and the next check. So a heartbeat costs one wake-up.
  virtual void heartbeat() = 0;
  virtual void currentDisableSleep(Reply reply) = 0;
  // On the way out: lets the machine sleep again, waiting for the helper at most `limit`.
  virtual void releaseBeforeExit(std::chrono::milliseconds limit) = 0;
};

// A reply that runs once, whichever of its copies is answered first: the helper's answer, the
// call's time limit, or a connection torn down with the call under way. The platforms hand a
// copy to each of these paths.
class OnceReply {
 public:
  explicit OnceReply(HelperConnection::Reply reply)
      : reply_(std::make_shared<HelperConnection::Reply>(std::move(reply))) {}
  void operator()(HelperAnswer answer, Instant now) const {
    if (!*reply_) return;
    const HelperConnection::Reply reply = std::exchange(*reply_, nullptr);
    reply(answer, now);
  }
  bool answered() const { return !*reply_; }

 private:
  std::shared_ptr<HelperConnection::Reply> reply_;
};

// Where the link stands. `pending`: the first request of a hold has not been answered yet.
// `released`: the helper let go by itself (battery floor, heat, its own restart) or could not
// hold.
enum class LinkState { idle, pending, held, released, unreachable, refused, unchecked };

// Keeps the helper holding the machine while the application has a hold: engages when a hold
// begins, heartbeats every 5 s, checks the live setting every 15 s, retries after 30 s when the
// helper is unreachable or refuses, re-engages at most once a minute after it let go, and
// releases once when the last hold ends. At most one call of each kind is under way: changes
// made meanwhile only move what is wanted, and the answer brings the helper in line with it.
class HelperLink {
 public:
  static constexpr std::chrono::seconds kHeartbeatEvery{5};
  static constexpr std::chrono::seconds kCheckEvery{15};
  static constexpr std::chrono::seconds kRetryAfterFailure{30};
  static constexpr std::chrono::seconds kRetryAfterLetGo{60};
  static constexpr std::chrono::seconds kRetryWhenBusy{1};
  static constexpr std::chrono::milliseconds kExitReleaseLimit{1000};

  // `answered` runs after an answer of the helper was taken in, with its time; the link's own
  // entries do not call it, their caller reports.
  HelperLink(HelperConnection& connection, std::function<void(Instant)> answered);
  HelperLink(const HelperLink&) = delete;
  HelperLink& operator=(const HelperLink&) = delete;

  void holdsChanged(bool active, Instant now);
  void tick(Instant now);
  // The helper went away (left the bus, the connection was interrupted).
  void lost(Instant now);
  // The helper is there again (its name has an owner again, the connection answers again): a
  // hold that waits to retry asks now.
  void returned(Instant now);
  // Releases, bounded, unless nothing was ever asked of the helper since the last release.
  void releaseBeforeExit();

  LinkState state() const { return state_; }
  std::optional<Instant> nextWake() const;

 private:
  // One call under way: its token, and for a set request the value asked for.
  struct Call {
    std::uint64_t token;
    bool on = false;
  };
  enum class Kind { set, check };

  void send(bool on);
  void fail(HelperAnswer answer, Instant now);
  void enter(LinkState state);
  HelperConnection::Reply replyFor(Kind kind);
  void answered(Kind kind, std::uint64_t token, HelperAnswer answer, Instant now);
  void setAnswered(Call call, HelperAnswer answer, Instant now);
  void checkAnswered(HelperAnswer answer, Instant now);

  HelperConnection& connection_;
  std::function<void(Instant)> answered_;
  LinkState state_ = LinkState::idle;
  std::uint64_t lastToken_ = 0;
  std::optional<Call> set_;    // the set request under way
  std::optional<Call> check_;  // the check under way
  std::optional<Instant> nextHeartbeat_;
  std::optional<Instant> nextCheck_;
  std::optional<Instant> retryAt_;
};

}  // namespace wexla::app
