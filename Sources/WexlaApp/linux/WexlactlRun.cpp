#include "WexlactlRun.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

#include "SdBus.hpp"

extern char** environ;

namespace wexla::app {

namespace {

constexpr std::size_t kKeptOutput = 4096;  // a message to show; wexlactl prints one line
constexpr std::chrono::minutes kLimit{1};

// Installed, wexlactl sits beside the application; in the build tree, in its own folder.
std::string wexlactlPath() {
  std::error_code error;
  const auto folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
  for (const auto& path : {folder / "wexlactl", folder / ".." / "WexlaCLI" / "wexlactl"}) {
    if (::access(path.c_str(), X_OK) == 0) return path.string();
  }
  return {};
}

struct Run {
  pid_t pid = -1;
  std::string output;
  std::function<void(int, const std::string&)> finished;
  sd::EventSource exited;  // owns the pidfd
  sd::EventSource reader;  // owns the pipe's read end
  sd::EventSource limit;
};

// Reads what is there; the rest beyond what is kept is read and dropped, so the child never
// stops on a full pipe.
void drain(Run& run) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(sd_event_source_get_io_fd(run.reader.get()), buffer, sizeof buffer);
    if (n <= 0) {
      if (n == 0 || errno != EAGAIN) sd_event_source_set_enabled(run.reader.get(), SD_EVENT_OFF);
      return;
    }
    const std::size_t room = kKeptOutput - std::min(kKeptOutput, run.output.size());
    run.output.append(buffer, std::min(room, static_cast<std::size_t>(n)));
  }
}

int onOutput(sd_event_source*, int, std::uint32_t, void* userdata) {
  drain(*static_cast<Run*>(userdata));
  return 0;
}

int onExited(sd_event_source*, int, std::uint32_t, void* userdata) {
  const std::unique_ptr<Run> run(static_cast<Run*>(userdata));
  drain(*run);
  int status = 0;
  const bool ended = ::waitpid(run->pid, &status, 0) == run->pid;
  run->finished(ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1, run->output);
  return 0;
}

int onLimit(sd_event_source*, std::uint64_t, void* userdata) {
  // Still our unreaped child: the number cannot have gone to another process.
  ::kill(static_cast<Run*>(userdata)->pid, SIGKILL);
  return 0;
}

}  // namespace

void runWexlactl(sd_event* event, const std::string& word,
                 std::function<void(int status, const std::string& output)> finished) {
  const std::string path = wexlactlPath();
  int fds[2] = {-1, -1};
  if (path.empty() || ::pipe2(fds, O_CLOEXEC) != 0) {
    finished(-1, "");
    return;
  }
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  // The application blocks the signals that quit it, for its loop: the child gets them back.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t quitSignals;
  sigemptyset(&none);
  sigemptyset(&quitSignals);
  for (const int number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&quitSignals, number);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &quitSignals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char* const argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(word.c_str()), nullptr};
  auto run = std::make_unique<Run>();
  run->finished = std::move(finished);
  const int spawned = ::posix_spawn(&run->pid, path.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  const int pidfd = spawned == 0 ? static_cast<int>(::syscall(SYS_pidfd_open, run->pid, 0)) : -1;
  sd_event_source* exited = nullptr;
  sd_event_source* reader = nullptr;
  sd_event_source* limit = nullptr;
  if (sd_event_add_io(event, &reader, fds[0], EPOLLIN, &onOutput, run.get()) >= 0) {
    run->reader.reset(reader);
    sd_event_source_set_io_fd_own(reader, 1);
  } else {
    ::close(fds[0]);
  }
  if (pidfd >= 0 && sd_event_add_io(event, &exited, pidfd, EPOLLIN, &onExited, run.get()) >= 0) {
    run->exited.reset(exited);
    sd_event_source_set_io_fd_own(exited, 1);
  } else if (pidfd >= 0) {
    ::close(pidfd);
  }
  if (run->reader && run->exited &&
      sd_event_add_time(event, &limit, CLOCK_MONOTONIC, 0, 0, &onLimit, run.get()) >= 0) {
    run->limit.reset(limit);
  }
  if (!run->limit || sd::fireAfter(limit, kLimit) < 0) {
    if (spawned == 0) {
      ::kill(run->pid, SIGKILL);
      ::waitpid(run->pid, nullptr, 0);
    }
    run->finished(-1, "");
    return;
  }
  run.release();  // onExited ends it
}

}  // namespace wexla::app
