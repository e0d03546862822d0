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

HelperLink::HelperLink(HelperConnection& connection, std::function<void(Instant)> changed)
    : connection_(connection), changed_(std::move(changed)) {}

void HelperLink::holdsChanged(bool active, Instant now) {
  if (active && state_ == LinkState::idle) {
    enter(LinkState::pending, now);
    engage();
  } else if (!active && state_ != LinkState::idle) {
    ++generation_;
    enter(LinkState::idle, now);
    connection_.setDisableSleep(false, [](HelperAnswer, Instant) {});
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
      connection_.currentDisableSleep(replyFor(&HelperLink::checked));
    }
  } else if (retryAt_ && now >= *retryAt_) {
    retryAt_.reset();
    engage();
  }
}

void HelperLink::lost(Instant now) {
  if (state_ == LinkState::idle || state_ == LinkState::unreachable) return;
  fail(HelperAnswer::unreachable, now);
}

void HelperLink::releaseBeforeExit() {
  if (state_ == LinkState::idle) return;
  ++generation_;
  connection_.releaseBeforeExit(kExitReleaseLimit);
}

std::optional<Instant> HelperLink::nextWake() const {
  if (state_ == LinkState::held) return std::min(*nextHeartbeat_, *nextCheck_);
  return retryAt_;
}

void HelperLink::engage() {
  ++generation_;
  connection_.setDisableSleep(true, replyFor(&HelperLink::engaged));
}

void HelperLink::fail(HelperAnswer answer, Instant now) {
  ++generation_;
  switch (answer) {
    case HelperAnswer::refused:
      retryAt_ = now + kRetryAfterFailure;
      enter(LinkState::refused, now);
      break;
    case HelperAnswer::unreachable:
      retryAt_ = now + kRetryAfterFailure;
      enter(LinkState::unreachable, now);
      break;
    default:
      // Asked again only once a minute, so a machine at its battery floor is not toggled at
      // every tick of the helper.
      retryAt_ = now + kRetryAfterLetGo;
      enter(LinkState::released, now);
      break;
  }
}

void HelperLink::enter(LinkState state, Instant now) {
  if (state != LinkState::held) {
    nextHeartbeat_.reset();
    nextCheck_.reset();
  }
  if (state == LinkState::idle || state == LinkState::held) retryAt_.reset();
  state_ = state;
  changed_(now);
}

HelperConnection::Reply HelperLink::replyFor(void (HelperLink::*handle)(HelperAnswer, Instant)) {
  return [this, handle, generation = generation_](HelperAnswer answer, Instant now) {
    if (generation != generation_) return;
    (this->*handle)(answer, now);
  };
}

void HelperLink::engaged(HelperAnswer answer, Instant now) {
  if (answer != HelperAnswer::yes) {
    fail(answer, now);
    return;
  }
  nextHeartbeat_ = now + kHeartbeatEvery;
  nextCheck_ = now + kCheckEvery;
  enter(LinkState::held, now);
}

void HelperLink::checked(HelperAnswer answer, Instant now) {
  if (answer != HelperAnswer::yes) fail(answer, now);
}

}  // namespace wexla::app
