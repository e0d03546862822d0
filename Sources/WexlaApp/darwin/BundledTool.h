#pragma once

#include <functional>
#include <string>

namespace wexla::app {

// Runs the wexlactl inside Wexla.app with one word, away from the main thread. `finished` gets
// its exit status (-1 when it did not start or was killed) and everything it printed, from the
// main run loop.
void runBundledTool(const std::string& word,
                    std::function<void(int status, const std::string& output)> finished);
// Kills the runs still under way, as the application quits: none outlives it.
void endBundledToolRuns();

}  // namespace wexla::app
