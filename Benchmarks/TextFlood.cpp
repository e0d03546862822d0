// Posts one command text COUNT times on the session bus as fast as the bus takes them, as a
// misbehaving or hostile program of the user could: for Benchmarks/app_flood.sh.
#include <systemd/sd-bus.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: text_flood COUNT TEXT\n", stderr);
    return 2;
  }
  const long count = std::atol(argv[1]);
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return 1;
  for (long i = 0; i < count; ++i) {
    if (sd_bus_emit_signal(bus, "/dev/wexla/DistributedNotificationCenter",
                           "dev.wexla.DistributedNotificationCenter", "Notification", "ss",
                           "dev.wexla.command", argv[2]) < 0) {
      return 1;
    }
    // Keeps the sender's own queue short: the flood waits at the bus, not in this process.
    if (i % 256 == 255) sd_bus_flush(bus);
  }
  sd_bus_flush(bus);
  sd_bus_close_unref(bus);
  return 0;
}
