#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "Files.hpp"
#include "SysfsPowerReader.hpp"
#include "TempDir.hpp"

namespace wexla::kit {
namespace {

namespace fs = std::filesystem;
using Description = std::optional<PowerSourceDescription>;
using enum ThermalState;

// A description as the reader builds it; without a level the capacities are left out.
Description source(bool onAC, std::int64_t now = -1, std::int64_t full = 100) {
  PowerSourceDescription description{{"Power Source State", onAC ? "AC Power" : "Battery Power"}};
  if (now >= 0) description.insert({{"Current Capacity", now}, {"Max Capacity", full}});
  return description;
}
constexpr bool kAC = true, kBattery = false;

TEST(SysfsPowerReader, ReadsFixtureMachines) {
  // clang-format off
  const std::tuple<const char*, Description, ThermalState> cases[] = {
      // Its BAT0 is a symlink, as every entry in sysfs is.
      {"laptop-bat0-ac-on-battery",     source(kBattery, 35520000, 50040000), nominal},
      {"laptop-two-batteries-on-mains", source(kAC, 39340000, 46000000),      serious},
      {"laptop-charge-only-adp1",       source(kBattery, 1870000, 3960000),   critical},
      {"laptop-capacity-only-acad",     source(kAC, 42),                      nominal},
      {"laptop-usb-c-charging",         source(kAC, 41200000, 52000000),      nominal},
      {"laptop-wireless-mouse",         source(kBattery, 12000000, 48000000), nominal},
      {"desktop-wireless-mouse-only",   std::nullopt,                         nominal},
      {"desktop-no-battery",            std::nullopt,                         nominal},
      // µWh and µAh cannot be added: each battery counts by its percent.
      {"laptop-mixed-battery-kinds",    source(kBattery, 105, 200),           nominal},
      // Type printed twice; charge above full; a garbage BAT1; an active trip; a garbage zone.
      {"laptop-sysfs-surprises",        source(kAC, 4120000, 4000000),        nominal},
  };
  // clang-format on
  for (const auto& [machine, power, thermal] : cases) {
    const fs::path root = fs::path(WEXLA_KIT_FIXTURES) / "sysfs" / machine;
    SysfsPowerReader reader(root / "power_supply", root / "thermal");
    EXPECT_EQ(reader.firstPowerSource(), power) << machine;
    EXPECT_EQ(reader.thermalState(), thermal) << machine;
  }
}

// Odd trees laid out at run time, as "<path>=<content>" words beside a battery A; "<fifo>" puts a
// pipe in place of a file. Garbage and unreadable files count as missing;
// a battery with nothing readable keeps only its power state, which reads as a full battery.
TEST(SysfsPowerReader, ReadsOddPowerSupplies) {
  // clang-format off
  const std::pair<Description, const char*> cases[] = {
      {source(kBattery),           "A/capacity=<fifo>"},
      {std::nullopt,               "A/type=Battery\nMains"},
      {source(kBattery, 30),       "A/capacity=30 B/type=Battery B/present=0 B/capacity=0"},
      {source(kBattery, 107, 200), "A/capacity=40 B/type=Battery B/energy_now=2 B/energy_full=3"},
      {source(kAC, 50),            "A/capacity=50 C/type=USB_PD C/online=2"},
      {source(kBattery, 50),       "A/capacity=50 C/type=USB C/scope=Device C/online=1"},
      {source(kBattery, 50),       "A/capacity=50 C/type=UPS C/online=1"},
  };
  // clang-format on
  for (const auto& [expected, tree] : cases) {
    const test::TempDir dir;
    test::writeFile(dir.path() / "class/A/type", "Battery");
    std::istringstream words(tree);
    for (std::string word; std::getline(words, word, ' ');) {
      const fs::path path = dir.path() / "class" / word.substr(0, word.find('='));
      const std::string content = word.substr(word.find('=') + 1);
      fs::create_directories(path.parent_path());
      if (content == "<fifo>") {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
      } else {
        test::writeFile(path, content);
      }
    }
    EXPECT_EQ(SysfsPowerReader(dir.path() / "class").firstPowerSource(), expected) << tree;
  }
}

}  // namespace
}  // namespace wexla::kit
