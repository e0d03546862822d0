#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace wexla::kit {

struct SubprocessResult {
  // The exit status; for a child that a signal ended, that signal's number (as the platform's
  // task API answers); -1 when the program did not start or ran past the limit.
  std::int32_t status = -1;
  std::string output;  // everything it wrote to standard output
};

// Runs a program without a shell, standard input on /dev/null, with no signal blocked or
// ignored. Both output pipes are drained while it runs, so a talkative child cannot block on a
// full pipe; a child still running at `limit` is killed and answered as one that never started.
// Safe to call from two threads at once: no child inherits another's pipes.
SubprocessResult runSubprocess(const std::string& path, const std::vector<std::string>& args,
                               std::chrono::milliseconds limit);

// Per platform (linux/Subprocess.cpp, darwin/Subprocess.cpp).
namespace SubprocessPlatform {
// A pipe whose ends are close-on-exec from the moment they exist; false when none was made.
bool openPipe(int (&fds)[2]);
// Spawn flags that keep the parent's other descriptors out of the child, where there are any.
short closeOthersFlags();
}  // namespace SubprocessPlatform

}  // namespace wexla::kit
