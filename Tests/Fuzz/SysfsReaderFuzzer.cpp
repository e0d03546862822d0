// Any contents in the power-supply and thermal files: the readers never crash or hang. The
// input is cut at line feeds, one piece per file of a laptop's tree.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "DaemonPower.hpp"
#include "SysfsPowerReader.hpp"

namespace {

namespace fs = std::filesystem;

// clang-format off
const char* const kFiles[] = {
    "power_supply/BAT0/type", "power_supply/BAT0/scope", "power_supply/BAT0/present",
    "power_supply/BAT0/energy_now", "power_supply/BAT0/energy_full",
    "power_supply/BAT0/charge_now", "power_supply/BAT0/charge_full", "power_supply/BAT0/capacity",
    "power_supply/BAT1/type", "power_supply/BAT1/capacity",
    "power_supply/BAT1/charge_now", "power_supply/BAT1/charge_full",
    "power_supply/AC/type", "power_supply/AC/online", "power_supply/AC/scope",
    "thermal/thermal_zone0/temp",
    "thermal/thermal_zone0/trip_point_0_type", "thermal/thermal_zone0/trip_point_0_temp",
    "thermal/thermal_zone0/trip_point_1_type", "thermal/thermal_zone0/trip_point_1_temp",
    "thermal/thermal_zone1/temp",
    "thermal/thermal_zone1/trip_point_0_type", "thermal/thermal_zone1/trip_point_0_temp",
};
// clang-format on

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fs::path root = [] {
    std::string pattern = (fs::temp_directory_path() / "wexla-fuzz-sysfs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    for (const char* file : kFiles)
      fs::create_directories((pattern / fs::path(file)).parent_path());
    return fs::path(pattern);
  }();
  std::string_view input(reinterpret_cast<const char*>(data), size);
  for (const char* file : kFiles) {
    const std::size_t end = std::min(input.find('\n'), input.size());
    std::ofstream(root / file, std::ios::binary | std::ios::trunc) << input.substr(0, end);
    input.remove_prefix(std::min(end + 1, input.size()));
  }
  wexla::kit::SysfsPowerReader reader(root / "power_supply", root / "thermal");
  volatile auto snapshot = wexla::kit::DaemonPower::snapshot(reader).batteryPercent;
  (void)snapshot;
  return 0;
}
