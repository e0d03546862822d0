#include "Subprocess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

extern char** environ;

namespace wexla::kit {

namespace {

using SteadyClock = std::chrono::steady_clock;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::vector<char*> cStrings(const std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (const auto& text : texts) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

int millisecondsLeft(Subprocess::Deadline deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Appends what one read gives; false at end of file or on an error.
bool readSome(int fd, std::string& into) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
}

}  // namespace

Subprocess::Subprocess(const std::string& path, const std::vector<std::string>& args,
                       const std::vector<std::string>* environment) {
  // Close-on-exec keeps the parent's ends out of every child; dup2 clears it on 1 and 2.
  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (!SubprocessPlatform::openPipe(outPipe)) return;
  if (!SubprocessPlatform::openPipe(errPipe)) {
    closeFd(outPipe[0]);
    closeFd(outPipe[1]);
    return;
  }
  std::vector<std::string> argvStrings{path};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  const std::vector<char*> argv = cStrings(argvStrings);
  std::vector<char*> envp;
  if (environment != nullptr) envp = cStrings(*environment);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  // The helper blocks or ignores SIGTERM to release on it; the child must not inherit that.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t terminate;
  sigemptyset(&terminate);
  sigaddset(&terminate, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &terminate);
  posix_spawnattr_setflags(&attributes,
                           static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              SubprocessPlatform::closeOthersFlags()));
  const int rc = ::posix_spawn(&pid_, path.c_str(), &actions, &attributes, argv.data(),
                               environment != nullptr ? envp.data() : environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  closeFd(outPipe[1]);
  closeFd(errPipe[1]);
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  if (rc != 0) {
    pid_ = -1;
    closeFd(outFd_);
    closeFd(errFd_);
  }
}

Subprocess::~Subprocess() {
  kill();
  closeFd(outFd_);
  closeFd(errFd_);
}

void Subprocess::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

bool Subprocess::read(Deadline deadline, const std::function<bool()>& enough) {
  while (outFd_ >= 0 || errFd_ >= 0) {
    if (enough && enough()) return true;
    std::array<pollfd, 2> fds{pollfd{outFd_, POLLIN, 0}, pollfd{errFd_, POLLIN, 0}};
    const int ready = ::poll(fds.data(), fds.size(), millisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (ready == 0) return false;
    if (fds[0].revents != 0 && !readSome(outFd_, out)) closeFd(outFd_);
    if (fds[1].revents != 0 && !readSome(errFd_, err)) closeFd(errFd_);
  }
  return true;
}

std::optional<int> Subprocess::wait(Deadline deadline) {
  int status = 0;
  while (pid_ > 0) {
    const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
    if (reaped == pid_) {
      pid_ = -1;
      return status;
    }
    if (reaped < 0 && errno != EINTR) break;
    if (SteadyClock::now() >= deadline) break;
    if (reaped == 0) ::usleep(200);
  }
  kill();
  return std::nullopt;
}

SubprocessResult runSubprocess(const std::string& path, const std::vector<std::string>& args,
                               std::chrono::milliseconds limit) {
  const auto deadline = SteadyClock::now() + limit;
  Subprocess child(path, args);
  if (!child.started() || !child.read(deadline)) return {};
  const std::optional<int> status = child.wait(deadline);
  if (!status) return {};
  return {WIFEXITED(*status) ? WEXITSTATUS(*status) : WTERMSIG(*status), std::move(child.out)};
}

}  // namespace wexla::kit
