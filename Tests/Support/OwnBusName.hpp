#pragma once

#include <systemd/sd-bus.h>
#include <unistd.h>

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

}  // namespace wexla::test
