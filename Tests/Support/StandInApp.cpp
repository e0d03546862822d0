// Stands in for the application on a session bus where the tests need what the real one never
// does: answer late, with an empty text, with something that is no text, or twice.
//
//   wexla_standin_app [--reply TEXT]... [--non-string] [--delay-ms N]
//
// Each --reply is one status notification, all sent together after each command; --non-string
// first sends a status notification whose object is a number; without replies it stays silent.
// "ready" on standard output means the command match is in force at the bus.
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "StandInBus.hpp"

namespace {

constexpr const char* kPath = "/dev/wexla/DistributedNotificationCenter";
constexpr const char* kInterface = "dev.wexla.DistributedNotificationCenter";

struct Options {
  std::vector<std::string> replies;
  bool nonString = false;
  int delayMs = 0;
};

int onCommand(sd_bus_message* message, void* userdata, sd_bus_error*) {
  const auto& options = *static_cast<const Options*>(userdata);
  if (options.delayMs > 0) ::usleep(static_cast<useconds_t>(options.delayMs) * 1000);
  sd_bus* bus = sd_bus_message_get_bus(message);
  if (options.nonString) {
    sd_bus_emit_signal(bus, kPath, kInterface, "Notification", "si", "dev.wexla.status", 42);
  }
  for (const auto& reply : options.replies) {
    sd_bus_emit_signal(bus, kPath, kInterface, "Notification", "ss", "dev.wexla.status",
                       reply.c_str());
  }
  sd_bus_flush(bus);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--reply" && hasValue) {
      options.replies.emplace_back(argv[++i]);
    } else if (arg == "--delay-ms" && hasValue) {
      options.delayMs = std::atoi(argv[++i]);
    } else if (arg == "--non-string") {
      options.nonString = true;
    } else {
      std::fprintf(stderr, "wexla_standin_app: unknown argument %s\n", arg.c_str());
      return 2;
    }
  }

  sd_bus* bus = nullptr;
  if (int r = sd_bus_open_user(&bus); r < 0) {
    std::fprintf(stderr, "wexla_standin_app: no session bus: %s\n", std::strerror(-r));
    return 1;
  }
  const std::string rule = std::string("type='signal',path='") + kPath + "',interface='" +
                           kInterface + "',member='Notification',arg0='dev.wexla.command'";
  if (int r = sd_bus_add_match(bus, nullptr, rule.c_str(), &onCommand, &options); r < 0) {
    std::fprintf(stderr, "wexla_standin_app: cannot match commands: %s\n", std::strerror(-r));
    return 1;
  }
  return wexla::test::serveForever(bus);
}
