#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "BootClock.hpp"

namespace wexla::base {

// Lets a line that anybody can make a daemon repeat through a few times a minute; each line
// written stands for the occurrences held back before it.
class RepeatLimiter {
 public:
  using TimePoint = BootClock::time_point;
  static constexpr int kLinesPerWindow = 3;
  static constexpr std::chrono::seconds kWindow{60};

  // Counts one occurrence at `now`; the number of occurrences a line written now stands for,
  // or 0 when no line may be written yet.
  std::uint64_t occurred(TimePoint now);
  // The occurrences held back, once a line may be written again; 0 otherwise.
  std::uint64_t heldBack(TimePoint now);
  // When a line may be written again, while occurrences are held back.
  std::optional<TimePoint> nextLine() const;

 private:
  std::optional<TimePoint> windowStart_;
  int linesInWindow_ = 0;
  std::uint64_t held_ = 0;
};

}  // namespace wexla::base
