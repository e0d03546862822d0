#pragma once

#include <string>
#include <vector>

#include "SleepBackend.hpp"

namespace wexla::test {

// What the fake backend was asked ("set 1", "set 0", "read") and how it answers.
struct BackendLog {
  std::vector<std::string> calls;
  bool setAnswer = true;
  bool settingOn = false;  // what reads report; a successful set changes it
};

struct FakeSleepBackend final : kit::SleepBackend {
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

}  // namespace wexla::test
