#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace wexla::kit {

struct SubprocessResult {
  std::int32_t status = -1;  // the exit status; -1 when the program did not start or was killed
  std::string output;        // everything it wrote to standard output
};

// Runs a program without a shell, standard input on /dev/null. Both output pipes are drained
// while it runs, so a talkative child cannot block on a full pipe; a child still running at
// `limit` is killed and answered as one that never started.
SubprocessResult runSubprocess(const std::string& path, const std::vector<std::string>& args,
                               std::chrono::milliseconds limit);

}  // namespace wexla::kit
