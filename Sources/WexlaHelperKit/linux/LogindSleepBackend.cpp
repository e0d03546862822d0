#include "LogindSleepBackend.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <optional>

#include "SdBus.hpp"

namespace wexla::kit {

namespace {

constexpr std::uint64_t kCallLimitMicros = 5'000'000;

// The process's connection to logind and its lock, shared by every backend object.
struct Shared {
  sd::Bus bus;
  int lock = -1;

  sd_bus* connection() {
    if (bus && sd_bus_is_open(bus.get()) > 0) return bus.get();
    sd_bus* opened = nullptr;
    bus.reset();
    if (sd_bus_open_system(&opened) < 0) return nullptr;
    bus.reset(opened);
    sd_bus_set_method_call_timeout(opened, kCallLimitMicros);
    return opened;
  }
};

Shared& shared() {
  static Shared state;
  return state;
}

// A call to logind's manager; no answer when it fails.
template <typename... Args>
sd::Message callManager(const char* method, const char* types, Args... args) {
  sd_bus* bus = shared().connection();
  if (bus == nullptr) return nullptr;
  sd::Error error;
  sd_bus_message* reply = nullptr;
  if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", method, error.get(), &reply, types,
                         args...) < 0) {
    return nullptr;
  }
  return sd::Message(reply);
}

// Whether logind lists a block lock of ours held by this process; nothing when it cannot be asked.
std::optional<bool> listsOurLock() {
  const sd::Message reply = callManager("ListInhibitors", "");
  if (!reply || sd_bus_message_enter_container(reply.get(), SD_BUS_TYPE_ARRAY, "(ssssuu)") < 0) {
    return std::nullopt;
  }
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
    if (read < 0) return std::nullopt;
    if (read == 0) return false;
    if (std::strcmp(who, LogindSleepBackend::kWho) == 0 &&
        std::strcmp(mode, LogindSleepBackend::kMode) == 0 && pid == self) {
      return true;
    }
  }
}

void closeLock() {
  Shared& state = shared();
  if (state.lock >= 0) ::close(state.lock);
  state.lock = -1;
}

}  // namespace

bool LogindSleepBackend::setDisableSleep(bool on) {
  if (!on) {
    closeLock();
    return true;
  }
  Shared& state = shared();
  if (state.lock >= 0) isDisableSleepOn();  // lets go of a descriptor that holds nothing
  if (state.lock >= 0) return true;
  const sd::Message reply = callManager("Inhibit", "ssss", kWhat, kWho, kWhy, kMode);
  int fd = -1;
  if (!reply || sd_bus_message_read(reply.get(), "h", &fd) < 0) return false;
  // The descriptor belongs to the message; keep a copy of our own.
  state.lock = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  return state.lock >= 0;
}

bool LogindSleepBackend::isDisableSleepOn() {
  const std::optional<bool> listed = listsOurLock();
  // Logind forgot the lock (it was restarted, say): the descriptor we keep holds nothing.
  if (listed == false) closeLock();
  return listed.value_or(false);
}

}  // namespace wexla::kit
