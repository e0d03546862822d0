#include "ChildProcess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace wexla::test {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> cStrings(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const auto& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

void makePipe(std::array<int, 2>& fds) {
  if (::pipe(fds.data()) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  for (const int fd : fds) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

int millisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Appends what one read gives; false at end of file.
bool readSome(int fd, std::string& into) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env) {
  std::array<int, 2> out{};
  std::array<int, 2> err{};
  makePipe(out);
  makePipe(err);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

  started_ = Clock::now();
  const auto args = cStrings(argv);
  const auto envp = cStrings(env);
  const int rc =
      ::posix_spawn(&pid_, argv.at(0).c_str(), &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  if (rc != 0) {
    ::close(outFd_);
    ::close(errFd_);
    throw std::system_error(rc, std::generic_category(), "posix_spawn " + argv.at(0));
  }
}

ChildProcess::~ChildProcess() {
  kill();
  if (outFd_ >= 0) ::close(outFd_);
  if (errFd_ >= 0) ::close(errFd_);
}

void ChildProcess::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void ChildProcess::signal(int number) const {
  if (pid_ > 0) ::kill(pid_, number);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (const auto end = outBuffer_.find('\n'); end != std::string::npos) {
      std::string line = outBuffer_.substr(0, end);
      outBuffer_.erase(0, end + 1);
      return line;
    }
    if (outFd_ < 0) return std::nullopt;
    pollfd fd{outFd_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, millisLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    if (!readSome(outFd_, outBuffer_)) {
      ::close(outFd_);
      outFd_ = -1;
    }
  }
}

ProcessResult ChildProcess::wait(std::chrono::milliseconds limit) {
  ProcessResult result;
  result.out = std::move(outBuffer_);
  outBuffer_.clear();
  const auto deadline = Clock::now() + limit;
  while (outFd_ >= 0 || errFd_ >= 0) {
    std::array<pollfd, 2> fds{pollfd{outFd_, POLLIN, 0}, pollfd{errFd_, POLLIN, 0}};
    const int ready = ::poll(fds.data(), fds.size(), millisLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      result.timedOut = true;
      break;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      int& fd = i == 0 ? outFd_ : errFd_;
      if (!readSome(fd, i == 0 ? result.out : result.err)) {
        ::close(fd);
        fd = -1;
      }
    }
  }
  // A child may close its streams and still run: keep to the limit while reaping it too.
  while (!result.timedOut && pid_ > 0) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
    if (reaped == pid_) {
      pid_ = -1;
      result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else if (reaped < 0 && errno != EINTR) {
      pid_ = -1;
    } else if (Clock::now() >= deadline) {
      result.timedOut = true;
    } else {
      ::usleep(2000);
    }
  }
  if (result.timedOut) kill();
  result.elapsed = Clock::now() - started_;
  return result;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         std::chrono::milliseconds limit) {
  ChildProcess child(argv, env);
  return child.wait(limit);
}

}  // namespace wexla::test
