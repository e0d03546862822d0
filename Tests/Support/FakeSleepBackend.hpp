#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "SleepBackend.hpp"

namespace wexla::test {

// What the fake was asked, in order, shared with the test after the controller took the fake.
struct SleepBackendLog {
  std::vector<std::string> calls;  // "set 1", "set 0", "read"
  bool setAnswer = true;           // the answer of every set, unless scripted
  bool settingOn = false;          // what reads report; a successful set changes it
  std::deque<bool> scriptedSets;   // answers of the next sets, first to last
};

class FakeSleepBackend final : public kit::SleepBackend {
 public:
  explicit FakeSleepBackend(std::shared_ptr<SleepBackendLog> log) : log_(std::move(log)) {}

  bool setDisableSleep(bool on) override {
    log_->calls.push_back(on ? "set 1" : "set 0");
    bool answer = log_->setAnswer;
    if (!log_->scriptedSets.empty()) {
      answer = log_->scriptedSets.front();
      log_->scriptedSets.pop_front();
    }
    if (answer) log_->settingOn = on;
    return answer;
  }
  bool isDisableSleepOn() override {
    log_->calls.push_back("read");
    return log_->settingOn;
  }

 private:
  std::shared_ptr<SleepBackendLog> log_;
};

}  // namespace wexla::test
