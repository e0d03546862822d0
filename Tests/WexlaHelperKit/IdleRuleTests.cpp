#include <gtest/gtest.h>

#include "IdleRule.hpp"

namespace wexla::kit {
namespace {

using namespace std::chrono_literals;

TEST(IdleRule, TicksOnlyWhileHeldAndEndsAnOnDemandHelperAMinuteAfterItsLastCallOrHold) {
  const TimePoint t0 = Clock::now();
  using enum IdleRule::Action;
  struct Step {
    std::chrono::seconds at;
    bool held;
    bool called;
    IdleRule::Next onDemand;
    IdleRule::Next byHand;
  };
  const IdleRule::Next forCall{wait, std::nullopt};
  // clang-format off
  const Step steps[] = {
      {0s,   false, false, {wait, t0 + 60s},   forCall},  // start
      {30s,  false, true,  {wait, t0 + 90s},   forCall},  // a call that holds nothing
      {89s,  false, false, {wait, t0 + 90s},   forCall},
      {89s,  true,  true,  {tick, {}},         {tick, {}}},
      {130s, true,  false, {tick, {}},         {tick, {}}},  // ticks while held
      {135s, false, false, {wait, t0 + 190s},  forCall},  // counted from the last time held
      {189s, false, false, {wait, t0 + 190s},  forCall},
      {190s, false, false, {exit, {}},         forCall},
  };
  // clang-format on
  IdleRule onDemand(60s);
  IdleRule byHand(std::nullopt);
  for (const Step& step : steps) {
    const TimePoint now = t0 + step.at;
    EXPECT_EQ(onDemand.next(step.held, step.called, now), step.onDemand) << step.at.count() << " s";
    EXPECT_EQ(byHand.next(step.held, step.called, now), step.byHand) << step.at.count() << " s";
  }
}

}  // namespace
}  // namespace wexla::kit
