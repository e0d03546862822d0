#include "RepeatLimiter.hpp"

#include <utility>

namespace wexla::base {

std::uint64_t RepeatLimiter::occurred(TimePoint now) {
  ++held_;
  return heldBack(now);
}

std::uint64_t RepeatLimiter::heldBack(TimePoint now) {
  if (held_ == 0) return 0;
  if (!windowStart_ || now - *windowStart_ >= kWindow) {
    windowStart_ = now;
    linesInWindow_ = 0;
  }
  if (linesInWindow_ == kLinesPerWindow) return 0;
  ++linesInWindow_;
  return std::exchange(held_, 0);
}

std::optional<RepeatLimiter::TimePoint> RepeatLimiter::nextLine() const {
  if (held_ == 0 || !windowStart_) return std::nullopt;
  return *windowStart_ + kWindow;
}

}  // namespace wexla::base
