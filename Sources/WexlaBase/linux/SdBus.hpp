#pragma once
// Owning holders for libsystemd's reference-counted objects: each releases its reference exactly
// once, on every way out.
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <memory>

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
