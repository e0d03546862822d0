#pragma once

#include <filesystem>
#include <optional>

#include "DaemonPower.hpp"

namespace wexla::kit {

// Reads power and heat from the kernel's power_supply and thermal classes. Only the entries
// directly under the two roots are read (following their symlinks), and every unreadable or
// garbled file counts as missing: nothing throws.
class SysfsPowerReader final : public PowerReader {
 public:
  explicit SysfsPowerReader(std::filesystem::path powerSupplyRoot = "/sys/class/power_supply",
                            std::filesystem::path thermalRoot = "/sys/class/thermal");

  // The worst zone: critical at or above a critical or hot trip, serious at or above a passive
  // trip, else nominal. Zones without a readable temperature are left out.
  ThermalState thermalState() override;

  // All system batteries folded into one description; nothing when the machine has none.
  std::optional<PowerSourceDescription> firstPowerSource() override;

 private:
  std::filesystem::path powerSupplyRoot_;
  std::filesystem::path thermalRoot_;
};

}  // namespace wexla::kit
