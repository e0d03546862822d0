#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "WatchdogEvaluator.hpp"

namespace wexla::kit {
namespace {

using namespace std::chrono_literals;

TEST(WatchdogEvaluator, ShouldResetOnlyAfterTheTimeoutHasPassed) {
  const TimePoint now = Clock::now();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    bool on;
    std::optional<TimePoint> lastHeartbeat;
    double timeout;
    bool reset;
    const char* what;
  };
  const Case cases[] = {
      {false, std::nullopt, 15, false, "setting off, never a heartbeat"},
      {false, now - 1h, 15, false, "setting off, stale heartbeat"},
      {true, std::nullopt, 15, true, "no heartbeat resets at once"},
      {true, now, 15, false, "heartbeat just now"},
      {true, now - 15s, 15, false, "exactly the timeout"},
      {true, now - 15001ms, 15, true, "15.001 s"},
      {true, now - 14999ms, 15, false, "14.999 s"},
      {true, now + 1h, 15, false, "heartbeat after now"},
      {true, now - 1h, nan, false, "a timeout that is no number"},
      {true, now - 1ms, 0, true, "zero timeout"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WatchdogEvaluator::shouldReset(c.on, c.lastHeartbeat, now, c.timeout), c.reset)
        << c.what;
  }
}

TEST(WatchdogEvaluator, HeartbeatsAreTimedOnAClockThatNeverStepsBack) {
  // On the wall clock, one set back an hour kept the machine awake for that hour.
  EXPECT_TRUE(Clock::is_steady);
}

TEST(WatchdogEvaluator, SafetyReleasesForHeatAndForLowBatteryOffMains) {
  struct Case {
    std::int64_t battery;
    bool onAC;
    bool thermal;
    std::int64_t floor;
    bool release;
  };
  const Case cases[] = {
      {6, false, false, 5, false},
      {5, false, false, 5, true},
      {0, false, false, 5, true},
      {-1, false, false, 5, true},
      {0, true, false, 5, false},
      {100, true, true, 5, true},
      {100, false, true, 5, true},
      {3, true, true, 5, true},
      {-5, false, false, -5, true},
      {-4, false, false, -5, false},
      {INT64_MIN, false, false, INT64_MAX, true},
      {INT64_MAX, false, false, INT64_MIN, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WatchdogEvaluator::shouldForceReleaseForSafety(c.battery, c.onAC, c.thermal, c.floor),
              c.release)
        << "battery " << c.battery << " onAC " << c.onAC << " thermal " << c.thermal << " floor "
        << c.floor;
  }
}

TEST(BootReconciler, ResetsOnlyASettingNobodyHolds) {
  EXPECT_FALSE(BootReconciler::shouldResetOnBoot(false, false));
  EXPECT_FALSE(BootReconciler::shouldResetOnBoot(false, true));
  EXPECT_TRUE(BootReconciler::shouldResetOnBoot(true, false));
  EXPECT_FALSE(BootReconciler::shouldResetOnBoot(true, true));
}

}  // namespace
}  // namespace wexla::kit
