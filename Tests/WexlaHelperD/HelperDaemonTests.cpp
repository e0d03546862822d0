// The helper without its platform: what the watchdog reads (a power snapshot) and decides (the
// controller's ticks, with one caller and with two), then the daemon's start-up and refusal log.
#include <gtest/gtest.h>

#include "HelperDaemon.hpp"

namespace wexla::helper {
namespace {

using namespace kit;
using namespace std::chrono_literals;
using Steps = std::vector<std::string>;
using Heartbeat = std::optional<TimePoint>;

const TimePoint t0 = Clock::now();

// What the fake backend was asked ("set 1", "set 0", "read") and how it answers.
struct BackendLog {
  Steps calls;
  bool setAnswer = true;
  bool settingOn = false;  // what reads report; a successful set changes it
};
struct FakeSleepBackend final : SleepBackend {
  explicit FakeSleepBackend(BackendLog& into) : log(into) {}
  bool setDisableSleep(bool on) override {
    log.calls.push_back(on ? "set 1" : "set 0");
    if (log.setAnswer) log.settingOn = on;
    return log.setAnswer;
  }
  bool isDisableSleepOn() override {
    log.calls.push_back("read");
    return log.settingOn;
  }
  BackendLog& log;
};

// What happened at t0, all from the caller "app".
enum Start { nothing, engaged, failedEngage, failedRelease };

// A controller with a heartbeat timeout of 15 s and a battery floor of 5 %.
struct Harness {
  BackendLog log;
  ClosedLidController controller{std::make_unique<FakeSleepBackend>(log), 15.0, 5};

  explicit Harness(Start start = nothing) {
    log.setAnswer = start != failedEngage;
    const bool engagedAtT0 = start >= engaged && controller.requestEngage("app", t0);
    log.setAnswer = false;
    EXPECT_EQ(engagedAtT0, start == engaged || start == failedRelease);
    EXPECT_FALSE(start == failedRelease && controller.requestRelease("app", t0));
    log = {};
  }
};

TEST(ClosedLidController, TicksReleaseForAStaleHeartbeatHeatAndLowBatteryOffMainsButNeverEngage) {
  // A wall clock set back would keep a heartbeat fresh for as long.
  EXPECT_TRUE(Clock::is_steady);
  using enum ReleaseReason;
  const std::optional<ReleaseReason> none;  // kept, or let go of a setting nobody here held
  struct Row {
    Start start;
    std::chrono::milliseconds at;
    std::int64_t battery;
    bool onAC, thermal, settingOn, setAnswer;
    std::optional<ReleaseReason> reason;
  };
  // clang-format off
  const Row rows[] = {
      //            after    battery AC     hot    on     set ok reason
      {engaged,       15s,     50,  false, false, true,  true,  none},  // exactly the timeout
      {engaged,       15001ms, 50,  false, false, true,  true,  heartbeatsStopped},
      {engaged,       1s,      5,   false, false, true,  true,  batteryFloor},  // at the floor
      {engaged,       1s,      6,   false, false, true,  true,  none},
      {engaged,       1s,      0,   true,  false, true,  true,  none},
      {engaged,       1s,      100, true,  true,  true,  true,  thermalPressure},
      {engaged,       1s,      50,  false, false, false, true,  none},  // turned off elsewhere
      {engaged,       20s,     50,  false, false, true,  false, heartbeatsStopped},  // failed, yet cleared
      {nothing,       1s,      50,  false, false, true,  true,  none},  // on, and no heartbeat
      {failedEngage,  15s,     50,  false, false, true,  true,  none},  // still a heartbeat
      {failedRelease, 1s,      50,  false, false, true,  true,  none},  // changed nothing
  };
  // clang-format on
  for (const Row& row : rows) {
    Harness h(row.start);
    h.log.settingOn = row.settingOn;
    h.log.setAnswer = row.setAnswer;
    EXPECT_EQ(h.controller.watchdogTick(t0 + row.at, row.battery, row.onAC, row.thermal),
              row.reason)
        << row.at.count();
    const bool released = row.reason || (row.start == nothing && row.settingOn);
    EXPECT_EQ(h.log.calls, (released ? Steps{"read", "set 0"} : Steps{"read"})) << row.at.count();
    const bool wasEngaged = row.start == engaged || row.start == failedRelease;
    EXPECT_EQ(h.controller.engaged(), wasEngaged && row.settingOn && !released) << row.at.count();
    EXPECT_EQ(h.controller.lastHeartbeat("app"),
              released || row.start == nothing ? Heartbeat() : t0);
  }
}

TEST(ClosedLidController, EachCallerHoldsOnItsOwnAndAHeartbeatNeverBeginsAHold) {
  enum Op { engage, release, heartbeat, leave, tick, lowBattery };
  struct Step {
    const char* caller;  // "" for the watchdog's ticks
    Op op;
    std::chrono::seconds at;
  };
  struct Row {
    std::vector<Step> steps;
    Steps backend;        // every call the backend got
    const char* holders;  // of "a" and "b", who holds after the last step
  };
  // clang-format off
  const Row rows[] = {
      // A heartbeat of a caller that never asked to hold keeps nothing.
      {{{"a", engage, 0s}, {"b", heartbeat, 1s}, {"a", release, 2s}}, {"set 1", "set 0"}, ""},
      {{{"a", engage, 0s}, {"b", heartbeat, 10s}, {"", tick, 16s}}, {"set 1", "read", "set 0"}, ""},
      // One caller's release, leaving or silence never ends the other's hold.
      {{{"a", engage, 0s}, {"b", engage, 1s}, {"a", release, 2s}}, {"set 1", "set 1"}, "b"},
      {{{"a", engage, 0s}, {"b", engage, 0s}, {"a", leave, 1s}}, {"set 1", "set 1"}, "b"},
      {{{"a", engage, 0s}, {"b", engage, 0s}, {"b", leave, 1s}, {"a", leave, 2s}}, {"set 1", "set 1", "set 0"}, ""},
      {{{"a", engage, 0s}, {"b", engage, 0s}, {"a", heartbeat, 10s}, {"", tick, 16s}}, {"set 1", "set 1", "read"}, "a"},
      {{{"a", engage, 0s}, {"b", leave, 1s}, {"b", release, 2s}}, {"set 1"}, "a"},
      // A hold whose heartbeats stopped is over, even before the tick that drops it.
      {{{"a", engage, 0s}, {"a", heartbeat, 16s}, {"", tick, 17s}}, {"set 1", "read", "set 0"}, ""},
      {{{"a", engage, 0s}, {"b", engage, 0s}, {"", lowBattery, 1s}}, {"set 1", "set 1", "read", "set 0"}, ""},  // for all
  };
  // clang-format on
  for (const Row& row : rows) {
    BackendLog log;
    ClosedLidController controller(std::make_unique<FakeSleepBackend>(log), 15.0, 5);
    TimePoint now = t0;
    for (const auto& [caller, op, at] : row.steps) {
      now = t0 + at;
      if (op == engage) controller.requestEngage(caller, now);
      if (op == release) controller.requestRelease(caller, now);
      if (op == heartbeat) controller.heartbeat(caller, now);
      if (op == leave) controller.callerLeft(caller, now);
      if (op >= tick) controller.watchdogTick(now, op == lowBattery ? 5 : 50, false, false);
    }
    const std::string holders = std::string(controller.holds("a", now) ? "a" : "") +
                                (controller.holds("b", now) ? "b" : "");
    EXPECT_EQ(log.calls, row.backend) << testing::PrintToString(row.backend);
    EXPECT_EQ(holders, row.holders) << testing::PrintToString(row.backend);
    EXPECT_EQ(controller.engaged(), !holders.empty()) << testing::PrintToString(row.backend);
  }
}

TEST(ClosedLidController, EveryAssignmentIsAnnouncedThenDeliveredWhileSubscribed) {
  Harness h;
  Steps events;
  {
    const Subscription will = h.controller.objectWillChange().connect(
        [&] { events.push_back(h.controller.engaged() ? "will, now 1" : "will, now 0"); });
    const Subscription values = h.controller.subscribeEngaged(
        [&](const bool& value) { events.push_back(value ? "value 1" : "value 0"); });
    h.controller.requestEngage("app", t0);
    h.log.settingOn = false;  // turned off elsewhere: each tick assigns false again
    h.controller.watchdogTick(t0 + 1s, 50, true, false);
    h.controller.watchdogTick(t0 + 2s, 50, true, false);
  }
  h.controller.requestEngage("app", t0 + 3s);
  EXPECT_EQ(events, (Steps{"value 0", "will, now 0", "value 1", "will, now 1", "value 0",
                           "will, now 0", "value 0"}));
}

TEST(DaemonPower, SnapshotFromADescription) {
  using enum ThermalState;
  using D = PowerSourceDescription;
  const std::string ac = "AC Power", battery = "Battery Power";
  const std::string now = "Current Capacity", full = "Max Capacity", state = "Power Source State";
  struct Case final : PowerReader {
    Case(ThermalState t, std::optional<D> s, DaemonPower::Snapshot e)
        : thermal(t), source(std::move(s)), expected(e) {}
    ThermalState thermalState() override { return thermal; }
    std::optional<D> firstPowerSource() override { return source; }
    ThermalState thermal;
    std::optional<D> source;
    DaemonPower::Snapshot expected;
  };
  // clang-format off
  Case cases[] = {
      {nominal,  std::nullopt, {100, true, false}},  // no battery: a full one on mains
      {serious,  std::nullopt, {100, true, true}},
      {fair,     D{{now, 85}, {full, 100}, {state, ac}}, {85, true, false}},
      {critical, D{{now, 85}, {full, 100}, {state, battery}}, {85, false, true}},
      {nominal,  D{{now, 1}, {full, 8}}, {13, false, false}},  // halves round up; no state: battery
      {nominal,  D{{now, 3}, {full, 0}}, {100, false, false}},
      {nominal,  D{{now, 3}, {full, -5}}, {100, false, false}},
      {nominal,  D{{full, 80}, {state, ac}}, {125, true, false}},
      {nominal,  D{{now, OtherValue{}}, {full, std::string("9")}}, {100, false, false}},
      {nominal,  D{{now, 50}, {state, 1}}, {50, false, false}},
      {nominal,  D{{state, std::string("ac power")}}, {100, false, false}},
      {nominal,  D{{now, INT64_MAX}, {full, 1}}, {INT64_MAX, false, false}},
  };
  // clang-format on
  for (Case& c : cases)
    EXPECT_EQ(DaemonPower::snapshot(c), c.expected) << testing::PrintToString(c.source);
}

// One timeline of steps, log lines and backend calls; `whileRunning` is what happens while it runs.
class FakePlatform final : public Platform {
 public:
  BackendLog backend;
  Steps& steps = backend.calls;
  TimePoint clock = t0;
  std::function<void(FakePlatform&)> whileRunning = [](FakePlatform&) {};
  std::function<void()> tick, stop;
  std::chrono::seconds interval{};
  ListenerDelegate* delegate = nullptr;

  struct RecordingLog final : Log {
    explicit RecordingLog(Steps& into) : steps(into) {}
    void write(LogLevel level, std::string_view message) override {
      steps.push_back((level == LogLevel::info ? "info: " : "error: ") + std::string(message));
    }
    Steps& steps;
  };

  std::unique_ptr<Log> makeLog() override {
    steps.push_back("log");
    return std::make_unique<RecordingLog>(steps);
  }
  std::unique_ptr<SleepBackend> makeSleepBackend() override {
    return std::make_unique<FakeSleepBackend>(backend);
  }
  DaemonPower::Snapshot powerSnapshot() override {
    steps.push_back("snapshot");
    return {80, true, false};
  }
  TimePoint now() override {
    steps.push_back("now");
    return clock;
  }
  void startTimer(std::chrono::seconds every, std::function<void()> onTick) override {
    steps.push_back("timer");
    interval = every;
    tick = std::move(onTick);
  }
  void startListener(ListenerDelegate& listening) override {
    steps.push_back("listener");
    delegate = &listening;
  }
  int runForever(std::function<void()> stopping) override {
    steps.push_back("run");
    stop = std::move(stopping);
    whileRunning(*this);
    return 0;
  }
};

TEST(HelperDaemon, StartsInOrderLogsRefusalsAFewTimesAMinuteAndLetsGoWhenStopped) {
  const std::string refused = "error: rejected XPC peer (signature mismatch)";
  struct Row {
    std::chrono::seconds at;
    int refusals;  // or a tick when none
    Steps logged;
  };
  // clang-format off
  const Row rows[] = {
      {0s,   1,     {refused}},
      {1s,   4,     {refused, refused}},  // three lines in a minute
      {2s,   20000, {}},
      {55s,  0,     {}},  // the tick holds them back while the minute lasts
      {60s,  0,     {refused + " (20002 times)"}},
      {61s,  2,     {refused, refused}},
      {62s,  1,     {}},
      {200s, 1,     {refused + " (2 times)"}},
  };
  // clang-format on
  FakePlatform platform;
  platform.backend.settingOn = true;  // left on by a helper that crashed
  platform.whileRunning = [&](FakePlatform& p) {
    EXPECT_EQ(p.steps,
              (Steps{"log", "read", "set 0", "info: helper started; boot reconciliation done",
                     "timer", "listener", "run"}));
    EXPECT_EQ(p.interval, 5s);
    p.steps.clear();
    p.tick();
    EXPECT_EQ(p.steps, (Steps{"snapshot", "now", "read"}));

    EXPECT_EQ(
        p.delegate->requirement(),
        R"(identifier "dev.wexla.app" and anchor apple generic and certificate leaf[subject.OU] = ")" +
            std::string(kTeamID) + "\"");  // the team the build admits (WEXLA_TEAM_ID)
    EXPECT_TRUE(p.delegate->shouldAcceptNewConnection([](const std::string&) { return true; }));
    for (const Row& row : rows) {
      p.clock = t0 + row.at;
      p.steps.clear();
      if (row.refusals == 0) p.tick();
      for (int i = 0; i < row.refusals; ++i) {
        EXPECT_FALSE(
            p.delegate->shouldAcceptNewConnection([](const std::string&) { return false; }));
      }
      std::erase_if(p.steps, [](const std::string& step) { return !step.starts_with("error"); });
      EXPECT_EQ(p.steps, row.logged) << row.at.count() << " s";
    }
    // The watchdog says why it let go; asked to stop, the daemon lets go and says so.
    p.delegate->service().setDisableSleep("app", true);
    EXPECT_TRUE(p.delegate->service().currentDisableSleep("app"));
    EXPECT_FALSE(p.delegate->service().currentDisableSleep("other"));  // held, not by it
    p.clock += 16s;
    p.steps.clear();
    p.tick();
    p.stop();
    EXPECT_EQ(p.steps,
              (Steps{"snapshot", "now", "read", "set 0", "info: released: heartbeats stopped",
                     "set 0", "info: released: stopping"}));
  };
  EXPECT_EQ(runDaemon(platform), 0);
}

}  // namespace
}  // namespace wexla::helper
