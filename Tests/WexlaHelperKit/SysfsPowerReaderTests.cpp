#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "SysfsPowerReader.hpp"
#include "TempDir.hpp"

namespace wexla::kit {
namespace {

namespace fs = std::filesystem;
using Description = std::optional<PowerSourceDescription>;

// A description as the reader builds it; without a capacity the keys are left out.
Description source(bool onAC, std::int64_t current = -1, std::int64_t max = 100) {
  PowerSourceDescription description{{"Power Source State", onAC ? "AC Power" : "Battery Power"}};
  if (current >= 0) description.insert({{"Current Capacity", current}, {"Max Capacity", max}});
  return description;
}
constexpr bool kAC = true;
constexpr bool kBattery = false;

// Files laid out at run time, for what git cannot hold: "<dir>" and "<fifo>" put a directory or
// a pipe in place of a file, "-><target>" a symlink.
using Tree = std::vector<std::pair<std::string, std::string>>;

void build(const fs::path& root, const Tree& tree) {
  for (const auto& [relative, content] : tree) {
    const fs::path path = root / relative;
    fs::create_directories(content == "<dir>" ? path : path.parent_path());
    if (content == "<fifo>") {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
    } else if (content.starts_with("->")) {
      fs::create_directory_symlink(content.substr(2), path);
    } else if (content != "<dir>") {
      std::ofstream(path) << content;
    }
  }
}

Tree battery(const std::string& capacity, Tree more = {}) {
  more.insert(more.end(), {{"BAT0/type", "Battery\n"}, {"BAT0/capacity", capacity}});
  return more;
}

TEST(SysfsPowerReader, ReadsFixtureMachines) {
  using enum ThermalState;
  const std::tuple<const char*, Description, ThermalState> cases[] = {
      {"laptop-bat0-ac-on-battery", source(kBattery, 35520000, 50040000), nominal},
      {"laptop-two-batteries-on-mains", source(kAC, 39340000, 46000000), serious},
      {"laptop-charge-only-adp1", source(kBattery, 1870000, 3960000), critical},
      {"laptop-capacity-only-acad", source(kAC, 42), nominal},
      {"laptop-usb-c-charging", source(kAC, 41200000, 52000000), nominal},
      {"laptop-wireless-mouse", source(kBattery, 12000000, 48000000), nominal},
      {"desktop-wireless-mouse-only", std::nullopt, nominal},
      {"desktop-no-battery", std::nullopt, nominal},
      // Energy and charge cannot be added: each battery counts by its percent.
      {"laptop-mixed-battery-kinds", source(kBattery, 105, 200), nominal},
      // Type printed twice still reads; charge above full is kept; the garbage BAT1 is skipped;
      // the active trip and the zone with garbage temp do not count.
      {"laptop-sysfs-surprises", source(kAC, 4120000, 4000000), nominal},
  };
  for (const auto& [machine, power, thermal] : cases) {
    const fs::path root = fs::path(WEXLA_KIT_FIXTURES) / "sysfs" / machine;
    SysfsPowerReader reader(root / "power_supply", root / "thermal");
    EXPECT_EQ(reader.firstPowerSource(), power) << machine;
    EXPECT_EQ(reader.thermalState(), thermal) << machine;
  }
}

// Garbage and unreadable files count as missing. A battery with nothing readable keeps only its
// power state, which the snapshot reads as a full battery.
TEST(SysfsPowerReader, TreatsOddPowerFilesAsMissing) {
  const std::pair<Tree, Description> cases[] = {
      {{{"", "<dir>"}}, std::nullopt},
      {battery(" 42 \n"), source(kBattery, 42)},
      {battery("9223372036854775808"), source(kBattery)},
      {battery(""), source(kBattery)},
      {battery("<dir>"), source(kBattery)},
      {battery("<fifo>"), source(kBattery)},
      {{{"BAT0/type", "Battery\nMains\n"}}, std::nullopt},
      {battery("30", {{"BAT1/type", "Battery"}, {"BAT1/present", "0"}}), source(kBattery, 30)},
      // BAT1 has energy only, so its own energy gives its percent: 67.
      {battery("40",
               {{"BAT1/type", "Battery"}, {"BAT1/energy_now", "2"}, {"BAT1/energy_full", "3"}}),
       source(kBattery, 107, 200)},
      {battery("50", {{"PD/type", "USB_PD"}, {"PD/online", "2"}}), source(kAC, 50)},
      {battery("50", {{"P/type", "USB"}, {"P/scope", "Device"}, {"P/online", "1"}}),
       source(kBattery, 50)},
      {{{"BAT0", "->../dev/BAT0"}, {"../dev/BAT0/type", "Battery"}, {"../dev/BAT0/capacity", "64"}},
       source(kBattery, 64)},
  };
  for (const auto& [tree, expected] : cases) {
    test::TempDir dir;
    build(dir.path() / "class", tree);
    EXPECT_EQ(SysfsPowerReader(dir.path() / "class").firstPowerSource(), expected)
        << testing::PrintToString(tree);
  }
}

Tree zone(const std::string& temp, const char* type, const char* trip) {
  return {{"thermal_zone0/temp", temp},
          {"thermal_zone0/trip_point_0_type", type},
          {"thermal_zone0/trip_point_0_temp", trip}};
}

// Worst-of-all-zones and missing roots are covered by the fixture machines.
TEST(SysfsPowerReader, RatesZonesAgainstTheirTrips) {
  using enum ThermalState;
  const std::pair<Tree, ThermalState> cases[] = {
      {zone("94999", "passive", "95000"), nominal},
      {zone("95000", "passive\n", "95000\n"), serious},
      {zone("100000", "hot", "100000"), critical},
      {zone("105001", "critical", "105000"), critical},
      {zone("90000", "active", "1"), nominal},
      {zone("-5000", "critical", "-273250"), nominal},
      {zone("5000", "passive", "0"), nominal},
      {zone("<dir>", "critical", "1"), nominal},
  };
  for (const auto& [tree, expected] : cases) {
    test::TempDir dir;
    build(dir.path(), tree);
    EXPECT_EQ(SysfsPowerReader("/nonexistent", dir.path()).thermalState(), expected)
        << testing::PrintToString(tree);
  }
}

}  // namespace
}  // namespace wexla::kit
