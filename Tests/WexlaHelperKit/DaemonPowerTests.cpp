#include <gtest/gtest.h>

#include "DaemonPower.hpp"

namespace wexla::kit {
namespace {

class FakePowerReader final : public PowerReader {
 public:
  FakePowerReader(ThermalState thermal, std::optional<PowerSourceDescription> source)
      : thermal_(thermal), source_(std::move(source)) {}
  ThermalState thermalState() override {
    order.push_back("thermal");
    return thermal_;
  }
  std::optional<PowerSourceDescription> firstPowerSource() override {
    order.push_back("source");
    return source_;
  }
  std::vector<std::string> order;

 private:
  ThermalState thermal_;
  std::optional<PowerSourceDescription> source_;
};

using D = PowerSourceDescription;

TEST(DaemonPower, SnapshotFromADescription) {
  const DescriptionValue ac = std::string("AC Power");
  const DescriptionValue battery = std::string("Battery Power");
  struct Case {
    const char* what;
    std::optional<D> source;
    DaemonPower::Snapshot expected;
  };
  const Case cases[] = {
      {"no power source: full battery on mains", std::nullopt, {100, true, false}},
      {"85 of 100 on mains",
       D{{"Current Capacity", 85}, {"Max Capacity", 100}, {"Power Source State", ac}},
       {85, true, false}},
      {"on battery",
       D{{"Current Capacity", 85}, {"Max Capacity", 100}, {"Power Source State", battery}},
       {85, false, false}},
      {"only Max Capacity 80",
       D{{"Max Capacity", 80}, {"Power Source State", ac}},
       {125, true, false}},
      {"only Current Capacity 40",
       D{{"Current Capacity", 40}, {"Power Source State", ac}},
       {40, true, false}},
      {"1 of 8 rounds half away from zero",
       D{{"Current Capacity", 1}, {"Max Capacity", 8}},
       {13, false, false}},
      {"1 of 3", D{{"Current Capacity", 1}, {"Max Capacity", 3}}, {33, false, false}},
      {"2 of 3", D{{"Current Capacity", 2}, {"Max Capacity", 3}}, {67, false, false}},
      {"Max Capacity 0", D{{"Current Capacity", 3}, {"Max Capacity", 0}}, {100, false, false}},
      {"Max Capacity negative",
       D{{"Current Capacity", 3}, {"Max Capacity", -5}},
       {100, false, false}},
      {"negative charge", D{{"Current Capacity", -3}, {"Max Capacity", 8}}, {-38, false, false}},
      {"missing state means battery",
       D{{"Current Capacity", 50}, {"Max Capacity", 100}},
       {50, false, false}},
      {"a state that is no text",
       D{{"Current Capacity", 50}, {"Power Source State", 1}},
       {50, false, false}},
      {"state in another case",
       D{{"Power Source State", std::string("ac power")}},
       {100, false, false}},
      {"capacities that are no integers",
       D{{"Current Capacity", OtherValue{}},
         {"Max Capacity", std::string("100")},
         {"Power Source State", ac}},
       {100, true, false}},
      {"an empty description", D{}, {100, false, false}},
      {"huge capacities saturate",
       D{{"Current Capacity", INT64_MAX}, {"Max Capacity", 1}},
       {INT64_MAX, false, false}},
  };
  for (const auto& c : cases) {
    FakePowerReader reader(ThermalState::nominal, c.source);
    EXPECT_EQ(DaemonPower::snapshot(reader), c.expected) << c.what;
  }
}

TEST(DaemonPower, ThermalIsReadFirstAndCountsInEveryOutcome) {
  struct Case {
    ThermalState state;
    bool serious;
  };
  const Case cases[] = {{ThermalState::nominal, false},
                        {ThermalState::fair, false},
                        {ThermalState::serious, true},
                        {ThermalState::critical, true}};
  for (const auto& c : cases) {
    FakePowerReader none(c.state, std::nullopt);
    EXPECT_EQ(DaemonPower::snapshot(none), (DaemonPower::Snapshot{100, true, c.serious}));
    EXPECT_EQ(none.order, (std::vector<std::string>{"thermal", "source"}));
    FakePowerReader battery(c.state, D{{"Current Capacity", 3}, {"Max Capacity", 100}});
    EXPECT_EQ(DaemonPower::snapshot(battery), (DaemonPower::Snapshot{3, false, c.serious}));
  }
}

}  // namespace
}  // namespace wexla::kit
