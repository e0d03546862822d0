#include "ChildProcess.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <stdexcept>

namespace wexla::test {

using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env)
    : process_(argv.at(0), {argv.begin() + 1, argv.end()}, &env), started_(Clock::now()) {
  if (!process_.started()) throw std::runtime_error("cannot start " + argv.at(0));
  pid_ = process_.pid();
}

void ChildProcess::signal(int number) const {
  if (process_.started()) ::kill(pid_, number);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds limit) {
  const auto lineEnd = [&] { return process_.out.find('\n', consumed_); };
  process_.read(Clock::now() + limit, [&] { return lineEnd() != std::string::npos; });
  const std::size_t end = lineEnd();
  if (end == std::string::npos) return std::nullopt;
  std::string line = process_.out.substr(consumed_, end - consumed_);
  consumed_ = end + 1;
  return line;
}

ProcessResult ChildProcess::wait(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  std::optional<int> status;
  if (process_.read(deadline)) status = process_.wait(deadline);
  process_.kill();
  ProcessResult result;
  result.timedOut = !status;
  if (status && WIFEXITED(*status)) result.exitStatus = WEXITSTATUS(*status);
  result.out = process_.out.substr(consumed_);
  result.err = process_.err;
  result.elapsed = Clock::now() - started_;
  return result;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::chrono::milliseconds limit) {
  return ChildProcess(argv, env).wait(limit);
}

}  // namespace wexla::test
