#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "Subprocess.hpp"

namespace wexla::test {

struct ProcessResult {
  int exitStatus = -1;  // -1 when the child was killed by a signal
  bool timedOut = false;
  std::string out;
  std::string err;
  std::chrono::duration<double> elapsed{};
};

// A real child process, the kit's own, with the test's environment. The destructor kills and
// reaps a child that is still running, so a failing test never leaves one behind.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // One line of standard output without its line feed; nothing at the limit or at end of file.
  std::optional<std::string> readLine(std::chrono::milliseconds limit);
  void signal(int number) const;
  pid_t pid() const { return pid_; }
  // Collects the rest of both streams and the exit status; kills the child at the limit.
  ProcessResult wait(std::chrono::milliseconds limit);

 private:
  kit::Subprocess process_;
  pid_t pid_ = -1;
  std::size_t consumed_ = 0;  // of the standard output, by readLine
  std::chrono::steady_clock::time_point started_;
};

// Runs a program to its end, bounded by `limit`.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace wexla::test
