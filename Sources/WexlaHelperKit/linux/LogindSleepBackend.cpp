#include "LogindSleepBackend.hpp"

#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace wexla::kit {

namespace {

constexpr std::uint64_t kCallLimitMicros = 5'000'000;

struct MessageReleaser {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageReleaser>;

// The process's connection to logind and its lock, shared by every backend object.
struct Shared {
  sd_bus* bus = nullptr;
  int lock = -1;

  sd_bus* connection() {
    if (bus != nullptr && sd_bus_is_open(bus) > 0) return bus;
    bus = sd_bus_flush_close_unref(bus);
    if (sd_bus_open_system(&bus) < 0) {
      bus = nullptr;
      return nullptr;
    }
    sd_bus_set_method_call_timeout(bus, kCallLimitMicros);
    return bus;
  }
};

Shared& shared() {
  static Shared state;
  return state;
}

}  // namespace

bool LogindSleepBackend::setDisableSleep(bool on) {
  Shared& state = shared();
  if (!on) {
    if (state.lock >= 0) ::close(state.lock);
    state.lock = -1;
    return true;
  }
  if (state.lock >= 0) return true;
  sd_bus* bus = state.connection();
  if (bus == nullptr) return false;

  sd_bus_error error{};
  sd_bus_message* raw = nullptr;
  const int r = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                   "org.freedesktop.login1.Manager", "Inhibit", &error, &raw,
                                   "ssss", kWhat, kWho, kWhy, kMode);
  sd_bus_error_free(&error);
  if (r < 0) return false;
  const Message reply(raw);
  int fd = -1;
  if (sd_bus_message_read(reply.get(), "h", &fd) < 0) return false;
  // The descriptor belongs to the message; keep a copy of our own.
  state.lock = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  return state.lock >= 0;
}

bool LogindSleepBackend::isDisableSleepOn() {
  sd_bus* bus = shared().connection();
  if (bus == nullptr) return false;
  sd_bus_error error{};
  sd_bus_message* raw = nullptr;
  const int r =
      sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "ListInhibitors", &error, &raw, "");
  sd_bus_error_free(&error);
  if (r < 0) return false;
  const Message reply(raw);
  if (sd_bus_message_enter_container(reply.get(), SD_BUS_TYPE_ARRAY, "(ssssuu)") < 0) return false;
  const auto self = static_cast<std::uint32_t>(::getpid());
  for (;;) {
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    std::uint32_t uid = 0;
    std::uint32_t pid = 0;
    const int read =
        sd_bus_message_read(reply.get(), "(ssssuu)", &what, &who, &why, &mode, &uid, &pid);
    if (read <= 0) return false;
    if (std::strcmp(who, kWho) == 0 && std::strcmp(mode, kMode) == 0 && pid == self) return true;
  }
}

}  // namespace wexla::kit
