#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace wexla::kit {

// One value of a power-source description: an integer, a text, or something else (a value of
// another kind, which counts as missing where an integer or a text is wanted).
struct OtherValue {
  bool operator==(const OtherValue&) const = default;
};
using DescriptionValue = std::variant<std::int64_t, std::string, OtherValue>;

// A power source as the platform describes it, keyed as IOKit keys it: "Current Capacity",
// "Max Capacity" (integers), "Power Source State" ("AC Power", "Battery Power", ...).
using PowerSourceDescription = std::map<std::string, DescriptionValue>;

// The platform's thermal scale, the four levels of the process thermal state.
enum class ThermalState { nominal = 0, fair = 1, serious = 2, critical = 3 };

// What a platform can tell about power. Every failure is an answer: nothing, or nominal.
class PowerReader {
 public:
  virtual ~PowerReader() = default;
  virtual ThermalState thermalState() = 0;
  // The first power source the platform lists; nothing when there is no list, an empty list,
  // or no readable description of the first source.
  virtual std::optional<PowerSourceDescription> firstPowerSource() = 0;
};

// The platform's reader: IOKit and the process thermal state on macOS, sysfs on Linux.
std::unique_ptr<PowerReader> makePlatformPowerReader();

namespace DaemonPower {

struct Snapshot {
  std::int64_t batteryPercent;
  bool isOnAC;
  bool thermalSerious;
  bool operator==(const Snapshot&) const = default;
};

// One reading for the watchdog. Never fails: without a readable power source the machine counts
// as a full battery on mains, and thermal pressure still counts.
Snapshot snapshot(PowerReader& reader);
Snapshot snapshot();

}  // namespace DaemonPower

}  // namespace wexla::kit
