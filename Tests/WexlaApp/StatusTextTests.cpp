#include <gtest/gtest.h>

#include "FakeWorld.hpp"

namespace wexla::app {
namespace {

TEST(StatusText, TimesAreShownInLocalTime) {
  ::setenv("TZ", "XYZ-7", 1);  // seven hours east of UTC
  ::tzset();
  const WallTime start = kStart.wall;
  EXPECT_EQ(clockText(start + 24h, start), "20:10");
  EXPECT_EQ(clockText(start + 24h + 1s, start), "2026-12-07 20:10");
  EXPECT_EQ(rfc3339(start), "2026-12-06T20:10:00+07:00");
  ::setenv("TZ", "<-0330>3:30", 1);
  ::tzset();
  EXPECT_EQ(rfc3339(start), "2026-12-06T09:40:00-03:30");
  ::setenv("TZ", "XXX-5:30:15", 1);
  ::tzset();
  EXPECT_EQ(rfc3339(start), "2026-12-06T13:10:00Z");
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  const std::pair<Instant::duration, const char*> lefts[] = {
      {1s, "1m"},       {59min + 1s, "1h00m"},  {60min, "1h00m"},
      {61min, "1h01m"}, {26h + 5min, "26h05m"}, {168h, "168h00m"},
  };
  for (const auto& [left, text] : lefts) EXPECT_EQ(timeLeftText(left), text);
}

}  // namespace
}  // namespace wexla::app
