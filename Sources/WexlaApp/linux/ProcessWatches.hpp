#pragma once
// The application's process watch, as sources of the sd-event loop.
#include <systemd/sd-event.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "Application.hpp"
#include "SdBus.hpp"

namespace wexla::app {

// The processes of `while PID`: a pidfd each, which becomes readable when its process ends. Where
// no pidfd can be had (an old kernel, or the descriptors running out), the process is looked at
// every few seconds instead: a live process is never turned away for want of a descriptor.
class ProcessWatches final : public ProcessWatch {
 public:
  static constexpr std::chrono::seconds kPollEvery{2};

  ProcessWatches(sd_event* event, std::function<void(std::int32_t)> ended);
  ProcessWatches(const ProcessWatches&) = delete;
  ProcessWatches& operator=(const ProcessWatches&) = delete;
  ~ProcessWatches() override;

  bool watch(std::int32_t pid) override;
  void unwatch(std::int32_t pid) override;

 private:
  struct Watch;
  std::unique_ptr<Watch> open(std::int32_t pid);
  // Looked at by polling, a watch learns its start time once it can be read.
  bool running(Watch& watch) const;
  static int onPidfd(sd_event_source*, int, std::uint32_t, void* userdata);
  static int onPoll(sd_event_source*, std::uint64_t, void* userdata);

  sd_event* event_;
  std::function<void(std::int32_t)> ended_;
  std::map<std::int32_t, std::unique_ptr<Watch>> watches_;
  sd::EventSource poll_;  // while some process is looked at by polling
  std::uint64_t pidfdLimit_;
  bool toldOfPolling_ = false;
};

}  // namespace wexla::app
