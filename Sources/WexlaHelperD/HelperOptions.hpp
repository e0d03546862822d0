#pragma once

#include <optional>
#include <span>
#include <string>

namespace wexla::helper {

// What the helper's command line asks. --help and --version answer and end with status 0, any
// other word is refused with the usage and status 2; --exit-when-idle is how the bus and the
// unit start it, to end when idle.
struct HelperOptions {
  bool exitWhenIdle = false;
  std::optional<int> exitStatus;  // set: print `text` (to standard error when non-zero) and end
  std::string text;
};

HelperOptions parseHelperOptions(std::span<const char* const> args);

}  // namespace wexla::helper
