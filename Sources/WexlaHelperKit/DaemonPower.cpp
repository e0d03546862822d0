#include "DaemonPower.hpp"

#include <cmath>
#include <limits>

namespace wexla::kit {

namespace {

constexpr std::int64_t kFullPercent = 100;

std::optional<std::int64_t> integerAt(const PowerSourceDescription& description,
                                      const std::string& key) {
  const auto found = description.find(key);
  if (found == description.end()) return std::nullopt;
  if (const auto* value = std::get_if<std::int64_t>(&found->second)) return *value;
  return std::nullopt;
}

std::int64_t roundedPercent(double current, double full) {
  const double percent = std::round(current / full * 100.0);  // halves away from zero
  // Out of range only with capacities no platform reports; saturate rather than overflow.
  if (!(percent < 9.2e18)) return std::numeric_limits<std::int64_t>::max();
  if (!(percent > -9.2e18)) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(percent);
}

}  // namespace

DaemonPower::Snapshot DaemonPower::snapshot(PowerReader& reader) {
  const ThermalState thermal = reader.thermalState();
  const bool thermalSerious = thermal == ThermalState::serious || thermal == ThermalState::critical;

  const std::optional<PowerSourceDescription> source = reader.firstPowerSource();
  if (!source) return {kFullPercent, true, thermalSerious};

  const double current =
      static_cast<double>(integerAt(*source, "Current Capacity").value_or(kFullPercent));
  const std::int64_t full = integerAt(*source, "Max Capacity").value_or(kFullPercent);
  const std::int64_t percent =
      full <= 0 ? kFullPercent : roundedPercent(current, static_cast<double>(full));

  // Here a missing state means battery power, unlike the fallback above.
  const auto state = source->find("Power Source State");
  const bool onAC = state != source->end() && std::get_if<std::string>(&state->second) != nullptr &&
                    std::get<std::string>(state->second) == "AC Power";
  return {percent, onAC, thermalSerious};
}

DaemonPower::Snapshot DaemonPower::snapshot() {
  const std::unique_ptr<PowerReader> reader = makePlatformPowerReader();
  return snapshot(*reader);
}

}  // namespace wexla::kit
