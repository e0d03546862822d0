#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HelperOptions.hpp"

namespace wexla::helper {
namespace {

TEST(HelperOptions, OnlyTheIdleOptionStartsTheDaemonHelpAndVersionAnswerAnythingElseIsRefused) {
  struct Row {
    std::vector<const char*> args;
    bool exitWhenIdle;
    std::optional<int> exitStatus;
    std::string_view textStart;
  };
  const Row rows[] = {
      {{}, false, std::nullopt, ""},
      {{"--exit-when-idle"}, true, std::nullopt, ""},
      {{"--version"}, false, 0, "wexla_helper 0."},
      {{"--exit-when-idle", "--help"}, true, 0, "usage: wexla_helper"},
      {{"--exit-when-idle", "--idle"}, true, 2, "usage: wexla_helper"},
      {{"exit-when-idle"}, false, 2, "usage: wexla_helper"},
  };
  for (const Row& row : rows) {
    const HelperOptions options = parseHelperOptions(row.args);
    const std::string last = row.args.empty() ? "" : row.args.back();
    EXPECT_EQ(options.exitWhenIdle, row.exitWhenIdle) << last;
    EXPECT_EQ(options.exitStatus, row.exitStatus) << last;
    EXPECT_TRUE(options.text.starts_with(row.textStart)) << options.text;
  }
}

}  // namespace
}  // namespace wexla::helper
