#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdio>

namespace wexla::test {

// Says "ready" on standard output, then serves the bus until it fails; the exit status.
inline int serveForever(sd_bus* bus) {
  std::printf("ready\n");
  std::fflush(stdout);
  for (int r = 0; r >= 0;) {
    r = sd_bus_process(bus, nullptr);
    if (r == 0) r = sd_bus_wait(bus, UINT64_MAX);
  }
  return 1;
}

}  // namespace wexla::test
