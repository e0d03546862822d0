#include <gtest/gtest.h>

#include "FakeWorld.hpp"

namespace wexla::app {
namespace {

// busyMinutes is the agent hold of a heartbeat that names no time; a member that cannot be used
// gives its own default, the others keep their values.
TEST_F(ApplicationTest, AnUnusableSettingsFileGivesTheDefaultsAndSaysWhy) {
  // clang-format off
  const std::tuple<const char*, std::int64_t, bool, bool> rows[] = {
      {"{}", 10, true, false},
      {R"({"busyMinutes": 30, "theme": "dark"})", 30, true, false},
      {R"({"busyMinutes": 1440})", 1440, true, false},
      {R"({"busyMinutes": 0})", 10, true, true},
      {R"({"busyMinutes": 1441})", 10, true, true},
      {R"({"busyMinutes": 18446744073709551615})", 10, true, true},
      {R"({"busyMinutes": 12.5})", 10, true, true},
      {R"({"busyMinutes": "30"})", 10, true, true},
      {"[30]", 10, true, true},
      {R"({"notifications": false})", 10, false, false},
      {R"({"busyMinutes": 30, "notifications": "no"})", 30, true, true},
      {R"({"busyMinutes": 0, "notifications": false})", 10, false, true},
      {"{\"busyMinutes\": 30", 10, true, true},
  };
  // clang-format on
  for (const auto& [text, minutes, notifications, problem] : rows) {
    const SettingsReading reading = parseSettings(text);
    EXPECT_EQ(!reading.problem.empty(), problem) << text;
    EXPECT_EQ(reading.settings.notifications, notifications) << text;
    Application application(reading.settings, world, world, world, world);
    application.handle("busy", kStart);
    const std::string until = clockText(kStart.wall + std::chrono::minutes(minutes), kStart.wall);
    EXPECT_EQ(application.statusLine(kStart), "agent — agent AI đang bận, giữ tới " + until +
                                                  " / AI agent busy, holding until " + until)
        << text;
  }
}

}  // namespace
}  // namespace wexla::app
