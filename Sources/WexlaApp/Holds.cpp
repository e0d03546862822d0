#include "Holds.hpp"

#include <algorithm>
#include <utility>

namespace wexla::app {

namespace {

// Minutes as a duration, saturating well past any cap instead of overflowing.
Instant::duration minutesFrom(std::int64_t minutes) {
  constexpr std::int64_t kLimit = 60 * 24 * 365 * 100;
  return std::chrono::minutes(std::clamp<std::int64_t>(minutes, 0, kLimit));
}

}  // namespace

bool Holds::any(Instant now) const {
  return manual_ || timerEnd(now) || agentEnd(now) || !processes_.empty();
}

void Holds::extend(std::int64_t minutes, Instant now) {
  if (minutes <= 0) return;
  const Instant from = std::max(now, timerEnd_.value_or(now));
  timerEnd_ = std::min(from + minutesFrom(minutes), now + kMaxTimer);
}

void Holds::busy(std::int64_t minutes, Instant now) {
  const Instant until = now + minutesFrom(minutes);
  if (!agentEnd_ || *agentEnd_ < until) agentEnd_ = until;
}

bool Holds::addProcess(std::int32_t pid) {
  if (std::find(processes_.begin(), processes_.end(), pid) != processes_.end()) return false;
  processes_.push_back(pid);
  return true;
}

void Holds::removeProcess(std::int32_t pid) { std::erase(processes_, pid); }

std::vector<std::int32_t> Holds::clear() {
  manual_ = false;
  timerEnd_.reset();
  agentEnd_.reset();
  return std::exchange(processes_, {});
}

void Holds::expire(Instant now) {
  timerEnd_ = timerEnd(now);
  agentEnd_ = agentEnd(now);
}

std::optional<Instant> Holds::nextExpiry() const {
  if (timerEnd_ && agentEnd_) return std::min(*timerEnd_, *agentEnd_);
  return timerEnd_ ? timerEnd_ : agentEnd_;
}

}  // namespace wexla::app
