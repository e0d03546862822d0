// Any bytes as a `pmset -g` report: the parser never crashes or reads out of bounds.
#include <cstdint>
#include <string_view>

#include "PmsetSleepBackend.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view report(reinterpret_cast<const char*>(data), size);
  volatile bool on = wexla::kit::PmsetSleepBackend::reportsSleepDisabled(report);
  (void)on;
  return 0;
}
