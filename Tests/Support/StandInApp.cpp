// Stands in for the application where the tests need what it never does: a reply that is late,
// empty, no text at all, or one of two. Its arguments are its answer to every command, in order:
//   wexla_standin_app [--reply TEXT | --non-string | --delay-ms N]...
// "ready" on standard output means the command match is in force at the bus.
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "StandInBus.hpp"

namespace {

constexpr const char* kPath = "/dev/wexla/DistributedNotificationCenter";
constexpr const char* kInterface = "dev.wexla.DistributedNotificationCenter";

int onCommand(sd_bus_message* message, void* arguments, sd_bus_error*) {
  sd_bus* bus = sd_bus_message_get_bus(message);
  for (char** arg = static_cast<char**>(arguments); *arg != nullptr; ++arg) {
    const std::string_view step = *arg;
    if (step == "--non-string") {
      sd_bus_emit_signal(bus, kPath, kInterface, "Notification", "si", "dev.wexla.status", 42);
    } else if (step == "--reply" && arg[1] != nullptr) {
      sd_bus_emit_signal(bus, kPath, kInterface, "Notification", "ss", "dev.wexla.status", *++arg);
    } else if (step == "--delay-ms" && arg[1] != nullptr) {
      sd_bus_flush(bus);
      ::usleep(static_cast<useconds_t>(std::atoi(*++arg)) * 1000);
    }
  }
  sd_bus_flush(bus);
  return 0;
}

}  // namespace

int main(int, char** argv) {
  sd_bus* bus = nullptr;
  const char* rule =
      "type='signal',path='/dev/wexla/DistributedNotificationCenter',interface='dev.wexla."
      "DistributedNotificationCenter',member='Notification',arg0='dev.wexla.command'";
  if (sd_bus_open_user(&bus) < 0 ||
      sd_bus_add_match(bus, nullptr, rule, &onCommand, argv + 1) < 0) {
    return 1;
  }
  return wexla::test::serveForever(bus);
}
