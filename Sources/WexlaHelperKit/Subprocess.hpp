#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wexla::kit {

// A program started without a shell: standard input on /dev/null, standard output and error on
// pipes, no signal blocked or ignored. Killed and reaped when the object goes, if still running.
// Safe to use from two threads at once: no child inherits another's pipes.
class Subprocess {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  // With the caller's environment unless `environment` is given. started() tells whether it ran.
  Subprocess(const std::string& path, const std::vector<std::string>& args,
             const std::vector<std::string>* environment = nullptr);
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Reads both streams into `out` and `err` until `enough` holds, both end, or the deadline;
  // false at the deadline. Both are drained together, so a talkative child never blocks.
  bool read(Deadline deadline, const std::function<bool()>& enough = nullptr);
  // The child's wait status once it ended; nothing at the deadline, and then it is killed. The
  // streams may end before the child does (it can leave them to a grandchild).
  std::optional<int> wait(Deadline deadline);
  void kill();

  std::string out;
  std::string err;

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
};

struct SubprocessResult {
  // The exit status; for a child that a signal ended, that signal's number (as the platform's
  // task API answers); -1 when the program did not start or ran past the limit.
  std::int32_t status = -1;
  std::string output;  // everything it wrote to standard output
};

// Runs a program to its end, within `limit`: a child still running then is killed and answered
// as one that never started.
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
