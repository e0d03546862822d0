#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "SleepBackend.hpp"

namespace wexla::kit {

// The setting through the platform's power tool: `pmset -a disablesleep 1|0` and `pmset -g`.
class PmsetSleepBackend final : public SleepBackend {
 public:
  static constexpr const char* kToolPath = "/usr/bin/pmset";
  // A hung tool must not stop the watchdog for good.
  static constexpr std::chrono::milliseconds kRunLimit{10000};

  PmsetSleepBackend() = default;
  // Another tool in place of pmset, and another limit: for tests and benchmarks.
  PmsetSleepBackend(std::string toolPath, std::chrono::milliseconds runLimit);

  bool setDisableSleep(bool on) override;
  bool isDisableSleepOn() override;

  // Whether a `pmset -g` report says that sleep is disabled: the first line naming
  // SleepDisabled decides, by holding a "1".
  static bool reportsSleepDisabled(std::string_view report);

 private:
  struct PmsetResult {
    std::int32_t status;
    std::string output;  // empty when it was not valid UTF-8
  };
  PmsetResult runPmset(const std::vector<std::string>& args) const;

  std::string toolPath_ = kToolPath;
  std::chrono::milliseconds runLimit_ = kRunLimit;
};

}  // namespace wexla::kit
