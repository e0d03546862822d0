#pragma once

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace wexla::test {

// Takes a well-known name for a stand-in service; one that just went away may still hold it
// for a moment.
inline bool ownBusName(sd_bus* bus, const char* name) {
  for (int attempt = 0; attempt < 250; ++attempt) {
    if (sd_bus_request_name(bus, name, 0) >= 0) return true;
    ::usleep(20000);
  }
  return false;
}

// Announces readiness on standard output, then serves the bus until it fails; the exit status.
inline int serveForever(sd_bus* bus) {
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) return 1;
    if (r == 0 && sd_bus_wait(bus, UINT64_MAX) < 0) return 1;
  }
}

}  // namespace wexla::test
