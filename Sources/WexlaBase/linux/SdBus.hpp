#pragma once
// Owning holders for libsystemd's reference-counted objects: each releases its reference exactly
// once, on every way out.
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <chrono>
#include <cstdint>
#include <memory>

#include "BootClock.hpp"

namespace wexla::sd {

struct BusReleaser {
  // Queued messages are sent first: a reply or a release must not be lost at exit.
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageReleaser {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotReleaser {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
struct EventReleaser {
  void operator()(sd_event* event) const { sd_event_unref(event); }
};
struct EventSourceReleaser {
  // Disabled first: a source still referenced elsewhere must not fire into a dead owner.
  void operator()(sd_event_source* source) const { sd_event_source_disable_unref(source); }
};

using Bus = std::unique_ptr<sd_bus, BusReleaser>;
using Message = std::unique_ptr<sd_bus_message, MessageReleaser>;
using Slot = std::unique_ptr<sd_bus_slot, SlotReleaser>;
using Event = std::unique_ptr<sd_event, EventReleaser>;
using EventSource = std::unique_ptr<sd_event_source, EventSourceReleaser>;

// A time of the boot clock as a CLOCK_BOOTTIME source takes it, rounded up: a timer that fires
// early would find nothing due yet.
inline std::uint64_t bootMicros(base::BootClock::time_point at) {
  return static_cast<std::uint64_t>(
      std::chrono::ceil<std::chrono::microseconds>(at.time_since_epoch()).count());
}

// Sets a time source to fire `delay` from now on its own clock: once, or with SD_EVENT_ON again
// and again as long as its handler moves the time on (calling this again).
inline int fireAfter(sd_event_source* source, std::chrono::microseconds delay,
                     int enabled = SD_EVENT_ONESHOT) {
  clockid_t clock = CLOCK_MONOTONIC;
  std::uint64_t now = 0;
  int r = sd_event_source_get_time_clock(source, &clock);
  if (r >= 0) r = sd_event_now(sd_event_source_get_event(source), clock, &now);
  if (r >= 0) r = sd_event_source_set_time(source, now + static_cast<std::uint64_t>(delay.count()));
  if (r >= 0) r = sd_event_source_set_enabled(source, enabled);
  return r;
}

// A bus error that frees its name and message when it goes.
struct Error {
  sd_bus_error value{};  // what SD_BUS_ERROR_NULL stands for, without a C99 compound literal
  Error() = default;
  Error(const Error&) = delete;
  Error& operator=(const Error&) = delete;
  ~Error() { sd_bus_error_free(&value); }
  sd_bus_error* get() { return &value; }
  const char* name() const { return value.name; }
};

}  // namespace wexla::sd
