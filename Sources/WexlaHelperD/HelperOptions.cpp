#include "HelperOptions.hpp"

#include <string_view>

namespace wexla::helper {

HelperOptions parseHelperOptions(std::span<const char* const> args) {
  HelperOptions options;
  for (const std::string_view word : args) {
    if (word == "--exit-when-idle") {
      options.exitWhenIdle = true;
      continue;
    }
    if (word == "--version") {
      options.exitStatus = 0;
      options.text = std::string("wexla_helper ") + WEXLA_VERSION + "\n";
      return options;
    }
    options.exitStatus = word == "--help" || word == "-h" ? 0 : 2;
    options.text =
        "usage: wexla_helper [--exit-when-idle | --help | --version]\n"
        "The Wexla helper: keeps the machine awake for the Wexla application while it\n"
        "holds, and lets go when its heartbeats stop, on low battery and under heat.\n"
        "The system starts it; started with --exit-when-idle, as the bus starts it, it\n"
        "ends after a minute with nothing held.\n";
    return options;
  }
  return options;
}

}  // namespace wexla::helper
