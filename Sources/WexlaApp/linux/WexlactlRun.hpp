#pragma once

#include <systemd/sd-event.h>

#include <functional>
#include <string>

namespace wexla::app {

// Runs the wexlactl installed beside this program (or the build tree's) with one word, without
// waiting for it: `finished` runs later on the loop with its exit status (-1 when it could not
// run, or was stopped after a minute) and the start of what it printed.
void runWexlactl(sd_event* event, const std::string& word,
                 std::function<void(int status, const std::string& output)> finished);

}  // namespace wexla::app
