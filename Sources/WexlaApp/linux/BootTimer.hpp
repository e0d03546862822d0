#pragma once
// The application's timer, as a source of the sd-event loop.
#include <systemd/sd-event.h>

#include <cstdint>
#include <functional>
#include <optional>

#include "Application.hpp"
#include "SdBus.hpp"

namespace wexla::app {

// One CLOCK_BOOTTIME timer, disarmed whenever nothing is due.
class BootTimer final : public WakeTimer {
 public:
  BootTimer(sd_event* event, std::function<void()> fire);
  BootTimer(const BootTimer&) = delete;
  BootTimer& operator=(const BootTimer&) = delete;
  bool ok() const { return static_cast<bool>(source_); }

  void wakeAt(std::optional<Instant> when) override;

 private:
  static int onTimer(sd_event_source*, std::uint64_t, void* userdata);

  std::function<void()> fire_;
  sd::EventSource source_;
};

}  // namespace wexla::app
