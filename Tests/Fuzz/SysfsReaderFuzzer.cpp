// Any contents in the power-supply and thermal files: the readers never crash or hang. The
// input is cut at line feeds, one piece per file of a laptop's tree.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "DaemonPower.hpp"
#include "SysfsPowerReader.hpp"

namespace {

namespace fs = std::filesystem;

const char* const kFiles[] = {
    "power_supply/BAT0/type",
    "power_supply/BAT0/scope",
    "power_supply/BAT0/present",
    "power_supply/BAT0/energy_now",
    "power_supply/BAT0/energy_full",
    "power_supply/BAT0/charge_now",
    "power_supply/BAT0/charge_full",
    "power_supply/BAT0/capacity",
    "power_supply/BAT1/type",
    "power_supply/BAT1/capacity",
    "power_supply/BAT1/charge_now",
    "power_supply/BAT1/charge_full",
    "power_supply/AC/type",
    "power_supply/AC/online",
    "power_supply/AC/scope",
    "thermal/thermal_zone0/temp",
    "thermal/thermal_zone0/trip_point_0_type",
    "thermal/thermal_zone0/trip_point_0_temp",
    "thermal/thermal_zone0/trip_point_1_type",
    "thermal/thermal_zone0/trip_point_1_temp",
    "thermal/thermal_zone1/temp",
    "thermal/thermal_zone1/trip_point_0_type",
    "thermal/thermal_zone1/trip_point_0_temp",
};

const fs::path& root() {
  static const fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "wexla-fuzz-sysfs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    for (const char* file : kFiles)
      fs::create_directories((fs::path(pattern) / file).parent_path());
    return fs::path(pattern);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  for (const char* file : kFiles) {
    const std::size_t end = std::min(input.find('\n', start), input.size());
    std::ofstream(root() / file, std::ios::binary | std::ios::trunc)
        << input.substr(std::min(start, input.size()), end - std::min(start, end));
    start = end + 1;
  }
  wexla::kit::SysfsPowerReader reader(root() / "power_supply", root() / "thermal");
  volatile auto snapshot = wexla::kit::DaemonPower::snapshot(reader).batteryPercent;
  (void)snapshot;
  return 0;
}
