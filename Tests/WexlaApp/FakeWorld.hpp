#pragma once
// The application's core with a fake helper, process watch and timer, on a clock of the test's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Application.hpp"
#include "StatusText.hpp"

namespace wexla::app {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

// 2026-12-06 13:10:00 UTC; the boot clock starts at an arbitrary reading.
const Now kStart{Instant(1000s), WallTime(std::chrono::seconds(1796562600))};

// Every seam of the application at once: it records the calls and answers as told.
class FakeWorld final : public HelperConnection,
                        public ProcessWatch,
                        public WakeTimer,
                        public ApplicationListener {
 public:
  Calls calls;                         // "set 1", "set 0", "heartbeat", "check", "release"
  std::optional<HelperAnswer> answer;  // answers every call at once when set
  std::vector<std::pair<std::string, Reply>> waiting;  // otherwise they wait here, by call
  std::set<std::int32_t> running{4242, 4243};
  std::optional<Instant> wake;
  Calls logged;

  void setDisableSleep(bool on, Reply reply) override { record(on ? "set 1" : "set 0", reply); }
  void heartbeat() override { calls.push_back("heartbeat"); }
  void currentDisableSleep(Reply reply) override { record("check", reply); }
  void releaseBeforeExit(std::chrono::milliseconds limit) override {
    EXPECT_EQ(limit, 1000ms);
    calls.push_back("release");
  }
  std::set<std::int32_t> watched;
  bool watch(std::int32_t pid) override {
    if (running.contains(pid)) watched.insert(pid);
    return running.contains(pid);
  }
  void unwatch(std::int32_t pid) override { watched.erase(pid); }
  void wakeAt(std::optional<Instant> when) override { wake = when; }
  void linkChanged(LinkState state) override { logged.emplace_back(linkLogMessage(state)); }

 private:
  void record(const char* call, Reply& reply) {
    calls.push_back(call);
    if (answer) {
      reply(*answer, now);
    } else {
      waiting.emplace_back(call, std::move(reply));
    }
  }

 public:
  Instant now = kStart.boot;
};

class ApplicationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }

  Now at(Instant::duration offset) {
    return {kStart.boot + offset, kStart.wallAt(kStart.boot + offset)};
  }

  FakeWorld world;
  Application app{Settings{}, world, world, world, world};
};

const std::string kOff = "off — không giữ máy thức / not holding";
const std::string kOn = "on — giữ máy thức tới khi tắt / holding until off";
const std::string kUse = " — dùng / use: on, off, 2h, 45m, extend 30, while PID, status";

}  // namespace wexla::app
