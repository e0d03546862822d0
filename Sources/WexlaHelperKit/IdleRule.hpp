#pragma once

#include <chrono>
#include <optional>

#include "WatchdogEvaluator.hpp"

namespace wexla::kit {

// When the helper may rest. The watchdog has work only while the setting is held; with nothing
// held, a helper started on demand ends once it has been idle (nothing held, no call) for
// `exitAfter`, and the next call starts it again; one started without it waits for that call.
class IdleRule {
 public:
  enum class Action { tick, wait, exit };
  struct Next {
    Action action;
    std::optional<TimePoint> until;  // how long a wait lasts; none: until the next call

    bool operator==(const Next&) const = default;
  };

  explicit IdleRule(std::optional<std::chrono::seconds> exitAfter) : exitAfter_(exitAfter) {}

  // At start, then after each call (`called`) and each tick: what the helper's timer does next.
  Next next(bool held, bool called, TimePoint now);

 private:
  std::optional<std::chrono::seconds> exitAfter_;
  std::optional<TimePoint> lastActive_;  // the start, the last call, or the last time held
};

}  // namespace wexla::kit
