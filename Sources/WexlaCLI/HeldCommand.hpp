#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Entry.hpp"

namespace wexla::cli {

// `wexlactl run CMD [ARG...]`: a local word, never sent to the application as a text.
inline constexpr std::string_view kRunWord = "run";
inline constexpr std::string_view runUsage = "usage: wexlactl run CMD [ARG...]";

// Starts `command` (its program found on PATH, its words byte for byte) as the person's own:
// the same input, output, environment, directory and terminal process group. While it runs, the
// application is asked to hold the machine for its process; a missing hold is told on standard
// error and never stops the command. Ends with the command's status: its exit code, 128 + the
// signal that ended it, 127 when the program is not found, 126 when it cannot be run.
Outcome runHeldCommand(const std::vector<std::string>& command, CenterFactory makeCenter);

}  // namespace wexla::cli
