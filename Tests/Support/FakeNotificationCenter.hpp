#pragma once

#include <optional>
#include <string>
#include <vector>

#include "NotificationCenter.hpp"

namespace wexla::test {

// Keeps the observer, records every call in order, and on run() delivers the scripted
// notifications to the observer as a real center would during the wait.
class FakeNotificationCenter final : public cli::NotificationCenter {
 public:
  bool reachable = true;
  std::vector<std::optional<std::string>> deliveriesDuringRun;  // nullopt: not a text

  std::vector<std::string> calls;
  std::vector<std::string> posted;
  bool stopped = false;
  double ranFor = 0;

  bool addObserver(std::string_view name, Handler handler) override {
    calls.push_back("addObserver " + std::string(name));
    handler_ = std::move(handler);
    return reachable;
  }
  void removeObserver() override {
    calls.push_back("removeObserver");
    handler_ = nullptr;
  }
  bool post(std::string_view name, std::string_view object) override {
    calls.push_back("post " + std::string(name));
    posted.emplace_back(object);
    return reachable;
  }
  void run(double seconds) override {
    calls.push_back("run");
    ranFor = seconds;
    for (const auto& delivery : deliveriesDuringRun) {
      if (handler_) handler_(delivery ? &*delivery : nullptr);
    }
  }
  void stop() override { stopped = true; }

 private:
  Handler handler_;
};

}  // namespace wexla::test
