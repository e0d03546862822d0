#include "HelperLink.hpp"

#include <algorithm>
#include <utility>

namespace wexla::app {

namespace {

// The next due time of a period: one period after the last, or after now when the loop was held
// up for longer than a period.
Instant advance(Instant due, std::chrono::seconds period, Instant now) {
  return std::max(due + period, now + std::chrono::milliseconds(1));
}

}  // namespace

HelperLink::HelperLink(HelperConnection& connection, std::function<void(Instant)> answered)
    : connection_(connection), answered_(std::move(answered)) {}

void HelperLink::holdsChanged(bool active, Instant) {
  if (active && state_ == LinkState::idle) {
    enter(LinkState::pending);
    if (!set_) send(true);
  } else if (!active && state_ != LinkState::idle) {
    check_.reset();
    enter(LinkState::idle);
    if (!set_) send(false);
  }
}

void HelperLink::tick(Instant now) {
  if (state_ == LinkState::held) {
    if (now >= *nextHeartbeat_) {
      nextHeartbeat_ = advance(*nextHeartbeat_, kHeartbeatEvery, now);
      connection_.heartbeat();
    }
    if (now >= *nextCheck_) {
      nextCheck_ = advance(*nextCheck_, kCheckEvery, now);
      if (!check_) {
        check_ = Call{++lastToken_};
        connection_.currentDisableSleep(replyFor(Kind::check));
      }
    }
  } else if (retryAt_ && now >= *retryAt_) {
    retryAt_.reset();
    if (!set_) send(true);
  }
}

void HelperLink::lost(Instant now) {
  if (state_ == LinkState::idle || state_ == LinkState::unreachable) return;
  fail(HelperAnswer::unreachable, now);
}

void HelperLink::returned(Instant now) {
  if (state_ == LinkState::idle || state_ == LinkState::held || !retryAt_) return;
  retryAt_ = now;
  tick(now);
}

void HelperLink::releaseBeforeExit() {
  // A hold whose first request is still under way may be granted yet: let go of it too.
  const bool asked = state_ != LinkState::idle || (set_ && set_->on);
  set_.reset();
  check_.reset();
  if (asked) connection_.releaseBeforeExit(kExitReleaseLimit);
}

std::optional<Instant> HelperLink::nextWake() const {
  if (state_ == LinkState::held) return std::min(*nextHeartbeat_, *nextCheck_);
  return retryAt_;
}

void HelperLink::send(bool on) {
  set_ = Call{++lastToken_, on};
  connection_.setDisableSleep(on, replyFor(Kind::set));
}

void HelperLink::fail(HelperAnswer answer, Instant now) {
  check_.reset();
  switch (answer) {
    case HelperAnswer::busy:
      retryAt_ = now + kRetryWhenBusy;
      break;
    case HelperAnswer::refused:
      retryAt_ = now + kRetryAfterFailure;
      enter(LinkState::refused);
      break;
    case HelperAnswer::unreachable:
      retryAt_ = now + kRetryAfterFailure;
      enter(LinkState::unreachable);
      break;
    case HelperAnswer::unchecked:
      retryAt_ = now + kRetryAfterFailure;
      enter(LinkState::unchecked);
      break;
    case HelperAnswer::yes:
    case HelperAnswer::no:
      // Asked again only once a minute, so a machine at its battery floor is not toggled at
      // every tick of the helper.
      retryAt_ = now + kRetryAfterLetGo;
      enter(LinkState::released);
      break;
  }
}

void HelperLink::enter(LinkState state) {
  if (state != LinkState::held) {
    nextHeartbeat_.reset();
    nextCheck_.reset();
  }
  if (state == LinkState::idle || state == LinkState::held) retryAt_.reset();
  state_ = state;
}

HelperConnection::Reply HelperLink::replyFor(Kind kind) {
  return [this, kind, token = lastToken_](HelperAnswer answer, Instant now) {
    answered(kind, token, answer, now);
  };
}

// The one place an answer is let in: only the answer to the call of its kind still under way.
// Every change of course drops or replaces that call, so a late answer finds nothing to change.
void HelperLink::answered(Kind kind, std::uint64_t token, HelperAnswer answer, Instant now) {
  std::optional<Call>& underWay = kind == Kind::set ? set_ : check_;
  if (!underWay || underWay->token != token) return;
  const Call call = *std::exchange(underWay, std::nullopt);
  if (kind == Kind::set) {
    setAnswered(call, answer, now);
  } else {
    checkAnswered(answer, now);
  }
  answered_(now);
}

void HelperLink::setAnswered(Call call, HelperAnswer answer, Instant now) {
  const bool wanted = state_ != LinkState::idle;
  if (call.on != wanted) {
    // The holds changed course while the call was under way: one call for where they stand now.
    send(wanted);
    return;
  }
  if (!call.on) return;
  if (answer != HelperAnswer::yes) {
    fail(answer, now);
    return;
  }
  nextHeartbeat_ = now + kHeartbeatEvery;
  nextCheck_ = now + kCheckEvery;
  enter(LinkState::held);
}

void HelperLink::checkAnswered(HelperAnswer answer, Instant now) {
  // A check the bus could not carry this time says nothing; the next one is 15 s away.
  if (state_ != LinkState::held || answer == HelperAnswer::yes || answer == HelperAnswer::busy) {
    return;
  }
  fail(answer, now);
}

}  // namespace wexla::app
