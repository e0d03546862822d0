#include <gtest/gtest.h>

#include <functional>

#include "ClosedLidController.hpp"
#include "FakeSleepBackend.hpp"

namespace wexla::kit {
namespace {

using namespace std::chrono_literals;
using test::FakeSleepBackend;
using test::SleepBackendLog;
using Calls = std::vector<std::string>;

const TimePoint t0 = Clock::now();

enum class Start { idle, engaged, waiting };

struct Harness {
  std::shared_ptr<SleepBackendLog> log = std::make_shared<SleepBackendLog>();
  ClosedLidController controller{std::make_unique<FakeSleepBackend>(log), 15.0, 5};
  int willChange = 0;
  std::vector<bool> delivered;
  Subscription a = controller.objectWillChange().connect([this] { ++willChange; });
  Subscription b = controller.subscribeEngaged([this](const bool& v) { delivered.push_back(v); });

  explicit Harness(Start start) {
    if (start == Start::engaged) controller.requestEngage(t0);
    if (start == Start::waiting) controller.heartbeat(t0);
    log->calls.clear();
    willChange = 0;
    delivered.clear();
  }
};

TEST(ClosedLidController, EveryTransition) {
  struct Row {
    const char* what;
    Start start;
    bool settingOn;
    bool setAnswer;
    std::function<std::optional<bool>(ClosedLidController&)> event;
    Calls calls;
    bool engagedAfter;
    std::optional<TimePoint> heartbeatAfter;
    std::optional<bool> result;
  };
  const auto engage = [](ClosedLidController& c) {
    return std::optional(c.requestEngage(t0 + 1s));
  };
  const auto release = [](ClosedLidController& c) { return std::optional(c.requestRelease()); };
  const auto tick = [](TimePoint now, std::int64_t battery, bool ac, bool thermal) {
    return [=](ClosedLidController& c) {
      c.watchdogTick(now, battery, ac, thermal);
      return std::optional<bool>();
    };
  };
  const auto boot = [](bool live) {
    return [=](ClosedLidController& c) {
      c.reconcileOnBoot(live);
      return std::optional<bool>();
    };
  };
  const Row rows[] = {
      {"engage, backend turns it on",
       Start::idle,
       false,
       true,
       engage,
       {"set 1"},
       true,
       t0 + 1s,
       true},
      {"engage, backend fails",
       Start::idle,
       false,
       false,
       engage,
       {"set 1"},
       false,
       t0 + 1s,
       false},
      {"engage again while engaged",
       Start::engaged,
       true,
       true,
       engage,
       {"set 1"},
       true,
       t0 + 1s,
       true},
      {"release, backend turns it off",
       Start::engaged,
       true,
       true,
       release,
       {"set 0"},
       false,
       std::nullopt,
       true},
      {"release, backend fails", Start::engaged, true, false, release, {"set 0"}, true, t0, false},
      {"release while idle",
       Start::idle,
       false,
       true,
       release,
       {"set 0"},
       false,
       std::nullopt,
       true},
      {"heartbeat",
       Start::engaged,
       true,
       true,
       [](ClosedLidController& c) {
         c.heartbeat(t0 + 3s);
         return std::optional<bool>();
       },
       {},
       true,
       t0 + 3s,
       std::nullopt},
      {"tick, setting off",
       Start::engaged,
       false,
       true,
       tick(t0 + 1s, 50, false, false),
       {"read"},
       false,
       t0,
       std::nullopt},
      {"tick, battery at the floor off mains",
       Start::engaged,
       true,
       true,
       tick(t0 + 1s, 5, false, false),
       {"read", "set 0"},
       false,
       std::nullopt,
       std::nullopt},
      {"tick, thermal on mains",
       Start::engaged,
       true,
       true,
       tick(t0 + 1s, 100, true, true),
       {"read", "set 0"},
       false,
       std::nullopt,
       std::nullopt},
      {"tick, battery low on mains",
       Start::engaged,
       true,
       true,
       tick(t0 + 1s, 0, true, false),
       {"read"},
       true,
       t0,
       std::nullopt},
      {"tick, no heartbeat ever",
       Start::idle,
       true,
       true,
       tick(t0, 50, false, false),
       {"read", "set 0"},
       false,
       std::nullopt,
       std::nullopt},
      {"tick, heartbeat 15.001 s old",
       Start::engaged,
       true,
       true,
       tick(t0 + 15001ms, 50, false, false),
       {"read", "set 0"},
       false,
       std::nullopt,
       std::nullopt},
      {"tick, heartbeat 15 s old",
       Start::engaged,
       true,
       true,
       tick(t0 + 15s, 50, false, false),
       {"read"},
       true,
       t0,
       std::nullopt},
      {"tick never engages",
       Start::waiting,
       true,
       true,
       tick(t0 + 1s, 50, false, false),
       {"read"},
       false,
       t0,
       std::nullopt},
      {"boot, setting on, nobody holds it",
       Start::idle,
       true,
       true,
       boot(false),
       {"read", "set 0"},
       false,
       std::nullopt,
       std::nullopt},
      {"boot, setting off",
       Start::idle,
       false,
       true,
       boot(false),
       {"read"},
       false,
       std::nullopt,
       std::nullopt},
      {"boot, setting on, live session",
       Start::idle,
       true,
       true,
       boot(true),
       {"read"},
       false,
       std::nullopt,
       std::nullopt},
  };
  for (const Row& row : rows) {
    Harness h(row.start);
    h.log->settingOn = row.settingOn;
    h.log->setAnswer = row.setAnswer;
    EXPECT_EQ(row.event(h.controller), row.result) << row.what;
    EXPECT_EQ(h.log->calls, row.calls) << row.what;
    EXPECT_EQ(h.controller.engaged(), row.engagedAfter) << row.what;
    EXPECT_EQ(h.controller.lastHeartbeat(), row.heartbeatAfter) << row.what;
    // The invariant: engaged only with a heartbeat on record.
    EXPECT_TRUE(!h.controller.engaged() || h.controller.lastHeartbeat()) << row.what;
  }
}

TEST(ClosedLidController, ConstructionTouchesNothingAndStartsIdle) {
  Harness h(Start::idle);
  EXPECT_TRUE(h.log->calls.empty());
  EXPECT_FALSE(h.controller.engaged());
  EXPECT_FALSE(h.controller.lastHeartbeat());
}

TEST(ClosedLidController, EveryAssignmentNotifiesBeforeTheValueChanges) {
  auto log = std::make_shared<SleepBackendLog>();
  ClosedLidController controller(std::make_unique<FakeSleepBackend>(log), 15.0, 5);
  std::vector<std::string> events;
  const Subscription will = controller.objectWillChange().connect(
      [&] { events.push_back(std::string("will, now ") + (controller.engaged() ? "1" : "0")); });
  const Subscription values = controller.subscribeEngaged(
      [&](const bool& value) { events.push_back(std::string("value ") + (value ? "1" : "0")); });
  EXPECT_EQ(events, Calls{"value 0"});  // the current value at once

  controller.requestEngage(t0);
  controller.heartbeat(t0 + 1s);                      // no notification
  controller.watchdogTick(t0 + 2s, 50, true, false);  // fresh: nothing assigned
  log->settingOn = false;
  controller.watchdogTick(t0 + 3s, 50, true, false);  // off: false, notified
  controller.watchdogTick(t0 + 4s, 50, true, false);  // and again, though it stays false
  EXPECT_EQ(events, (Calls{"value 0", "will, now 0", "value 1", "will, now 1", "value 0",
                           "will, now 0", "value 0"}));
}

TEST(ClosedLidController, AFailedForcedReleaseIsRetriedOnTheNextTick) {
  Harness h(Start::engaged);
  h.log->scriptedSets = {false, true};
  h.controller.watchdogTick(t0 + 20s, 50, false, false);
  EXPECT_FALSE(h.controller.engaged());
  EXPECT_FALSE(h.controller.lastHeartbeat());
  EXPECT_TRUE(h.log->settingOn);  // still on at the system
  h.controller.watchdogTick(t0 + 25s, 50, false, false);
  EXPECT_EQ(h.log->calls, (Calls{"read", "set 0", "read", "set 0"}));
  EXPECT_FALSE(h.log->settingOn);
  EXPECT_EQ(h.delivered, (std::vector<bool>{false, false}));
}

TEST(ClosedLidController, AFailedEngageWithTheSettingOnStandsUntilItsHeartbeatIsStale) {
  Harness h(Start::idle);
  h.log->setAnswer = false;
  h.log->settingOn = true;  // turned on outside the system, or the failure was only reported
  EXPECT_FALSE(h.controller.requestEngage(t0));
  h.controller.watchdogTick(t0 + 15s, 50, false, false);
  EXPECT_EQ(h.log->calls, (Calls{"set 1", "read"}));
  h.controller.watchdogTick(t0 + 16s, 50, false, false);
  EXPECT_EQ(h.log->calls, (Calls{"set 1", "read", "read", "set 0"}));
}

TEST(ClosedLidController, SubscriptionsEndWithTheirTokens) {
  Harness h(Start::idle);
  int calls = 0;
  {
    const Subscription s = h.controller.objectWillChange().connect([&] { ++calls; });
    h.controller.requestEngage(t0);
  }
  h.controller.requestRelease();
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace wexla::kit
