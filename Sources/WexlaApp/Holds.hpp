#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "AppTime.hpp"

namespace wexla::app {

// The reasons to keep the machine awake; it is held while at least one is active.
class Holds {
 public:
  // The furthest a timer may reach from now; asking for more caps it.
  static constexpr std::chrono::hours kMaxTimer{24 * 7};

  bool any(Instant now) const;

  void setManual(bool on) { manual_ = on; }
  // Moves the timer's end to (the later of now and its end) + minutes, capped; 0 does nothing.
  void extend(std::int64_t minutes, Instant now);
  // Holds at least until now + minutes; a later heartbeat never shortens the hold.
  void busy(std::int64_t minutes, Instant now);
  // False when the process is held already.
  bool addProcess(std::int32_t pid);
  void removeProcess(std::int32_t pid);
  // Every hold ends; the processes that were held are returned, to stop watching them.
  std::vector<std::int32_t> clear();

  // Forgets the timer and the agent hold once their ends have passed.
  void expire(Instant now);
  // The earliest end still to come, if any hold ends by time.
  std::optional<Instant> nextExpiry() const;

  bool manual() const { return manual_; }
  std::optional<Instant> timerEnd(Instant now) const { return active(timerEnd_, now); }
  std::optional<Instant> agentEnd(Instant now) const { return active(agentEnd_, now); }
  const std::vector<std::int32_t>& processes() const { return processes_; }

 private:
  static std::optional<Instant> active(std::optional<Instant> end, Instant now) {
    return end && *end > now ? end : std::nullopt;
  }

  bool manual_ = false;
  std::optional<Instant> timerEnd_;
  std::optional<Instant> agentEnd_;
  std::vector<std::int32_t> processes_;  // in the order they were asked for
};

}  // namespace wexla::app
