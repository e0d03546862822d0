#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
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

inline void announceReady() {
  std::printf("ready\n");
  std::fflush(stdout);
}

// Announces readiness on standard output, then serves the bus until it fails; the exit status.
inline int serveForever(sd_bus* bus) {
  announceReady();
  for (;;) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) return 1;
    if (r == 0 && sd_bus_wait(bus, UINT64_MAX) < 0) return 1;
  }
}

// The same for a service whose bus is attached to an event loop.
inline int serveForever(sd_event* event) {
  announceReady();
  return sd_event_loop(event) < 0 ? 1 : 0;
}

}  // namespace wexla::test
