#pragma once

// The application's timer and process watch, as dispatch sources on the main queue. Objective-C++
// only: under ARC a dispatch source is an object that these classes own.
#include <dispatch/dispatch.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "Application.hpp"

namespace wexla::app {

class DispatchWakeTimer final : public WakeTimer {
 public:
  // `due` runs on the main queue at the instant last asked for.
  explicit DispatchWakeTimer(std::function<void()> due);
  ~DispatchWakeTimer() override;
  DispatchWakeTimer(const DispatchWakeTimer&) = delete;
  DispatchWakeTimer& operator=(const DispatchWakeTimer&) = delete;

  void wakeAt(std::optional<Instant> when) override;

 private:
  std::function<void()> due_;
  dispatch_source_t source_;
};

// `while PID`: one process source per process, as `caffeinate -w` watches its process.
class DispatchProcessWatch final : public ProcessWatch {
 public:
  // `ended` runs on the main queue with the process that ended.
  explicit DispatchProcessWatch(std::function<void(std::int32_t)> ended);
  ~DispatchProcessWatch() override;
  DispatchProcessWatch(const DispatchProcessWatch&) = delete;
  DispatchProcessWatch& operator=(const DispatchProcessWatch&) = delete;

  bool watch(std::int32_t pid) override;
  void unwatch(std::int32_t pid) override;

 private:
  std::function<void(std::int32_t)> ended_;
  std::map<std::int32_t, dispatch_source_t> sources_;
};

}  // namespace wexla::app
