// The controller's contract with two callers, "a" and "b", each with a hold of its own.
#include <gtest/gtest.h>

#include "ClosedLidController.hpp"
#include "FakeSleepBackend.hpp"

namespace wexla::kit {
namespace {

using namespace std::chrono_literals;
using Steps = std::vector<std::string>;

enum Op { engage, release, heartbeat, leave, tick, lowBattery, hot };
struct Step {
  const char* caller;  // nothing for the watchdog's ticks
  Op op;
  std::chrono::seconds at;
};

TEST(ClosedLidController, EachCallerHoldsOnItsOwnAndAHeartbeatNeverBeginsAHold) {
  struct Row {
    std::vector<Step> steps;
    Steps backend;        // every call the backend got
    const char* holders;  // who holds after the last step
  };
  const Steps on{"set 1"}, both{"set 1", "set 1"};
  const auto then = [](Steps first, const Steps& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
  };
  // clang-format off
  const Row rows[] = {
      // A heartbeat of a caller that never asked to hold keeps nothing.
      {{{"a", engage, 0s}, {"b", heartbeat, 1s}, {"a", release, 2s}}, {"set 1", "set 0"}, ""},
      {{{"a", engage, 0s}, {"b", heartbeat, 10s}, {nullptr, tick, 16s}}, {"set 1", "read", "set 0"}, ""},
      {{{"b", heartbeat, 0s}, {nullptr, tick, 1s}}, {"read"}, ""},
      // One caller's release, leaving or silence never ends the other's hold.
      {{{"a", engage, 0s}, {"b", engage, 1s}, {"a", release, 2s}}, both, "b"},
      {{{"a", engage, 0s}, {"b", engage, 0s}, {"a", leave, 1s}}, both, "b"},
      {{{"a", engage, 0s}, {"b", engage, 0s}, {"b", leave, 1s}, {"a", leave, 2s}}, then(both, {"set 0"}), ""},
      {{{"a", engage, 0s}, {"b", engage, 0s}, {"a", heartbeat, 10s}, {nullptr, tick, 16s}}, then(both, {"read"}), "a"},
      {{{"a", engage, 0s}, {"b", engage, 0s}, {"a", heartbeat, 10s}, {nullptr, tick, 26s}}, then(both, {"read", "set 0"}), ""},
      {{{"a", engage, 0s}, {"b", leave, 1s}, {"b", release, 2s}}, on, "a"},
      // A hold whose heartbeats stopped is over, even before the tick that drops it.
      {{{"a", engage, 0s}, {"a", heartbeat, 16s}, {nullptr, tick, 17s}}, {"set 1", "read", "set 0"}, ""},
      // Safety lets go for everybody.
      {{{"a", engage, 0s}, {"b", engage, 0s}, {nullptr, lowBattery, 1s}}, then(both, {"read", "set 0"}), ""},
      {{{"a", engage, 0s}, {"b", engage, 0s}, {nullptr, hot, 1s}}, then(both, {"read", "set 0"}), ""},
  };
  // clang-format on
  const TimePoint t0 = Clock::now();
  for (const Row& row : rows) {
    test::BackendLog log;
    ClosedLidController controller(std::make_unique<test::FakeSleepBackend>(log), 15.0, 5);
    TimePoint now = t0;
    for (const Step& step : row.steps) {
      now = t0 + step.at;
      const std::string caller = step.caller != nullptr ? step.caller : "";
      switch (step.op) {
        case engage:
          controller.requestEngage(caller, now);
          break;
        case release:
          controller.requestRelease(caller, now);
          break;
        case heartbeat:
          controller.heartbeat(caller, now);
          break;
        case leave:
          controller.callerLeft(caller, now);
          break;
        case tick:
          controller.watchdogTick(now, 50, false, false);
          break;
        case lowBattery:
          controller.watchdogTick(now, 5, false, false);
          break;
        case hot:
          controller.watchdogTick(now, 100, true, true);
          break;
      }
    }
    const std::string trace = testing::PrintToString(row.backend);
    EXPECT_EQ(log.calls, row.backend) << trace;
    std::string holders;
    for (const char* caller : {"a", "b"}) {
      if (controller.holds(caller, now)) holders += caller;
    }
    EXPECT_EQ(holders, row.holders) << trace;
    EXPECT_EQ(controller.engaged(), !holders.empty()) << trace;
  }
}

}  // namespace
}  // namespace wexla::kit
