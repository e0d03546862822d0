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

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    // Close-on-exec keeps the parent's ends out of every child; dup2 clears it on 1 and 2.
    int fds[2] = {-1, -1};
    if (!SubprocessPlatform::openPipe(fds)) return;
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  void closeRead() {
    if (read >= 0) ::close(read);
    read = -1;
  }
  void closeWrite() {
    if (write >= 0) ::close(write);
    write = -1;
  }
  bool ok() const { return read >= 0; }
};

// Reads what is there; false at end of file or on an error.
bool drain(int fd, std::string* into) {
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    if (into != nullptr) into->append(buffer, static_cast<std::size_t>(n));
    return true;
  }
}

pid_t spawn(const std::string& path, const std::vector<std::string>& args, Pipe& out, Pipe& err) {
  std::vector<std::string> argvStrings;
  argvStrings.reserve(args.size() + 1);
  argvStrings.push_back(path);
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out.write, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write, STDERR_FILENO);
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
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

}  // namespace

SubprocessResult runSubprocess(const std::string& path, const std::vector<std::string>& args,
                               std::chrono::milliseconds limit) {
  Pipe out;
  Pipe err;
  if (!out.ok() || !err.ok()) return {};
  const pid_t pid = spawn(path, args, out, err);
  out.closeWrite();
  err.closeWrite();
  if (pid < 0) return {};

  SubprocessResult result;
  const auto deadline = SteadyClock::now() + limit;
  bool expired = false;
  while (out.read >= 0 || err.read >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) {
      expired = true;
      break;
    }
    std::array<pollfd, 2> fds{pollfd{out.read, POLLIN, 0}, pollfd{err.read, POLLIN, 0}};
    const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(left.count()) + 1);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (fds[0].revents != 0 && !drain(out.read, &result.output)) out.closeRead();
    if (fds[1].revents != 0 && !drain(err.read, nullptr)) err.closeRead();
  }

  // The streams are closed, yet the child may still run (it can close them, or leave them to a
  // grandchild): keep to the limit while reaping it.
  int status = 0;
  for (;;) {
    if (expired || SteadyClock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return {};
    }
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid) break;
    if (reaped < 0 && errno != EINTR) return {};
    if (reaped == 0) ::usleep(200);
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
  return result;
}

}  // namespace wexla::kit
