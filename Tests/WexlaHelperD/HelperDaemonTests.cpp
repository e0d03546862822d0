#include <gtest/gtest.h>

#include "FakeSleepBackend.hpp"
#include "HelperDaemon.hpp"

namespace wexla::helper {
namespace {

using namespace std::chrono_literals;
using Steps = std::vector<std::string>;

const kit::TimePoint t0 = kit::Clock::now();

// Records every step of the start-up in one list, with the backend's calls among them, and lets
// the test act while the daemon "runs".
class FakePlatform final : public Platform {
 public:
  std::shared_ptr<test::SleepBackendLog> backend = std::make_shared<test::SleepBackendLog>();
  // One timeline: the platform's steps, the log lines and the backend's calls, in order.
  Steps& steps = backend->calls;
  kit::TimePoint clock = t0;
  kit::DaemonPower::Snapshot power{80, true, false};
  std::function<void(FakePlatform&)> whileRunning = [](FakePlatform&) {};

  std::function<void()> tick;
  std::function<void()> stop;
  std::chrono::seconds interval{};
  ListenerDelegate* delegate = nullptr;

  class RecordingLog final : public Log {
   public:
    explicit RecordingLog(Steps& steps) : steps_(steps) {}
    void write(LogLevel level, std::string_view message) override {
      steps_.push_back((level == LogLevel::info ? "info: " : "error: ") + std::string(message));
    }

   private:
    Steps& steps_;
  };

  std::unique_ptr<Log> makeLog() override {
    steps.push_back("log");
    return std::make_unique<RecordingLog>(steps);
  }
  std::unique_ptr<kit::SleepBackend> makeSleepBackend() override {
    return std::make_unique<test::FakeSleepBackend>(backend);
  }
  kit::DaemonPower::Snapshot powerSnapshot() override {
    steps.push_back("snapshot");
    return power;
  }
  kit::TimePoint now() override {
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

TEST(HelperDaemon, StartsInOrderAndTicksOnlyFromTheTimer) {
  FakePlatform platform;
  platform.whileRunning = [](FakePlatform& p) {
    EXPECT_EQ(p.interval, 5s);
    p.steps.push_back("tick");
    p.tick();
  };
  EXPECT_EQ(runDaemon(platform), 0);
  // No tick before the timer fires; the snapshot is taken before the time is read.
  EXPECT_EQ(platform.steps, (Steps{"log", "read", "info: helper started; boot reconciliation done",
                                   "timer", "listener", "run", "tick", "snapshot", "now", "read"}));
}

TEST(HelperDaemon, ASettingLeftOnIsReleasedBeforeTheStartLine) {
  FakePlatform platform;
  platform.backend->settingOn = true;
  runDaemon(platform);
  EXPECT_EQ(platform.steps,
            (Steps{"log", "read", "set 0", "info: helper started; boot reconciliation done",
                   "timer", "listener", "run"}));
  EXPECT_FALSE(platform.backend->settingOn);
}

TEST(HelperDaemon, TheServiceEngagesReleasesAndKeepsTheHeartbeat) {
  FakePlatform platform;
  platform.whileRunning = [](FakePlatform& p) {
    HelperService& service = p.delegate->service();
    p.steps.clear();
    EXPECT_TRUE(service.setDisableSleep(true));
    EXPECT_TRUE(p.backend->settingOn);

    p.clock = t0 + 14s;
    EXPECT_TRUE(service.heartbeat());
    p.clock = t0 + 28s;  // 14 s after the heartbeat: still held
    p.tick();
    EXPECT_TRUE(p.backend->settingOn);
    p.clock = t0 + 30s;  // 16 s after it: released
    p.tick();
    EXPECT_FALSE(p.backend->settingOn);

    EXPECT_TRUE(service.setDisableSleep(false));  // nothing held: still asks the backend
    p.backend->setAnswer = false;
    EXPECT_FALSE(service.setDisableSleep(true));
    EXPECT_TRUE(service.heartbeat());  // true whatever the state
  };
  runDaemon(platform);
  EXPECT_EQ(platform.steps, (Steps{"now", "set 1", "info: setDisableSleep(true) -> true", "now",
                                   "snapshot", "now", "read", "snapshot", "now", "read", "set 0",
                                   "set 0", "info: setDisableSleep(false) -> true", "now", "set 1",
                                   "info: setDisableSleep(true) -> false", "now"}));
}

TEST(HelperDaemon, AStoppedHelperLetsGoFirst) {
  FakePlatform platform;
  platform.whileRunning = [](FakePlatform& p) {
    EXPECT_TRUE(p.delegate->service().setDisableSleep(true));
    p.steps.clear();
    p.stop();
  };
  runDaemon(platform);
  EXPECT_EQ(platform.steps, (Steps{"set 0"}));
  EXPECT_FALSE(platform.backend->settingOn);
}

TEST(HelperDaemon, StatusComesFromAFreshBackendNotFromTheController) {
  FakePlatform platform;
  platform.whileRunning = [](FakePlatform& p) {
    HelperService& service = p.delegate->service();
    p.backend->settingOn = true;  // turned on by another party
    EXPECT_TRUE(service.currentDisableSleep());
    EXPECT_TRUE(service.setDisableSleep(true));
    p.backend->settingOn = false;  // turned off behind the helper's back
    EXPECT_FALSE(service.currentDisableSleep());
  };
  runDaemon(platform);
}

TEST(HelperDaemon, RefusalsAreLoggedAFewTimesAMinuteEachLineWithItsCount) {
  const std::string refused = "error: rejected XPC peer (signature mismatch)";
  struct Row {
    std::chrono::seconds at;
    int refusals;  // or a tick when none
    Steps logged;
  };
  const Row rows[] = {
      {0s, 1, {refused}},
      {1s, 4, {refused, refused}},  // three lines in a minute
      {2s, 20000, {}},
      {55s, 0, {}},  // the tick holds them back while the minute lasts
      {60s, 0, {refused + " (20002 times)"}},
      {61s, 2, {refused, refused}},
      {62s, 1, {}},
      {200s, 1, {refused + " (2 times)"}},
  };
  FakePlatform platform;
  platform.whileRunning = [&](FakePlatform& p) {
    std::string checked;
    EXPECT_TRUE(p.delegate->shouldAcceptNewConnection([](const std::string&) { return true; }));
    for (const Row& row : rows) {
      p.clock = t0 + row.at;
      p.steps.clear();
      if (row.refusals == 0) p.tick();
      for (int i = 0; i < row.refusals; ++i) {
        EXPECT_FALSE(p.delegate->shouldAcceptNewConnection([&](const std::string& requirement) {
          checked = requirement;
          return false;
        }));
      }
      std::erase_if(p.steps, [](const std::string& step) { return !step.starts_with("error"); });
      EXPECT_EQ(p.steps, row.logged) << row.at.count() << " s";
    }
    EXPECT_EQ(
        checked,
        R"(identifier "dev.wexla.app" and anchor apple generic and certificate leaf[subject.OU] = "K7QW2ZR9TD")");
  };
  runDaemon(platform);
}

}  // namespace
}  // namespace wexla::helper
