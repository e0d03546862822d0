#include "ChildRuns.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "FileDescriptor.hpp"
#include "SdBus.hpp"

extern char** environ;

namespace wexla::base {

struct ChildRuns::Run {
  ChildRuns* owner = nullptr;
  pid_t pid = -1;
  std::string output;
  Finished finished;
  sd::EventSource exited;  // owns the pidfd
  sd::EventSource reader;  // owns the pipe's read end
  sd::EventSource limit;

  // Reads what is there; the rest beyond what is kept is read and dropped, so the child never
  // stops on a full pipe.
  void drain() {
    char buffer[4096];
    while (reader) {
      const ssize_t n = ::read(sd_event_source_get_io_fd(reader.get()), buffer, sizeof buffer);
      if (n <= 0) {
        if (n == 0 || errno != EAGAIN) reader.reset();
        return;
      }
      const std::size_t room = kKeptOutput - std::min(kKeptOutput, output.size());
      output.append(buffer, std::min(room, static_cast<std::size_t>(n)));
    }
  }
};

namespace {

// The child's pid, or -1 with errno set.
pid_t spawn(const std::vector<std::string>& argv, int output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output, 1);
  posix_spawn_file_actions_adddup2(&actions, output, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t every;
  sigemptyset(&none);
  sigfillset(&every);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &every);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    return -1;
  }
  return pid;
}

void killAndReap(pid_t pid) {
  // Still our unreaped child: the number cannot have gone to another process.
  ::kill(pid, SIGKILL);
  while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

ChildRuns::ChildRuns(sd_event* event, std::chrono::milliseconds limit)
    : event_(event), limit_(limit) {}

ChildRuns::~ChildRuns() {
  for (const auto& [pid, run] : runs_) killAndReap(pid);
}

bool ChildRuns::start(const std::vector<std::string>& argv, Finished finished) {
  if (argv.empty()) return false;
  int fds[2] = {-1, -1};
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  FileDescriptor readEnd(fds[0]);
  const FileDescriptor writeEnd(fds[1]);
  ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);
  auto run = std::make_unique<Run>();
  run->owner = this;
  run->finished = std::move(finished);
  run->pid = spawn(argv, writeEnd.get());
  if (run->pid < 0) return false;
  FileDescriptor pidfd(static_cast<int>(::syscall(SYS_pidfd_open, run->pid, 0)));
  sd_event_source* source = nullptr;
  bool ok =
      pidfd && sd_event_add_io(event_, &source, readEnd.get(), EPOLLIN, &onOutput, run.get()) >= 0;
  if (ok) {
    run->reader.reset(source);
    sd_event_source_set_io_fd_own(source, 1);
    readEnd.release();
    ok = sd_event_add_io(event_, &source, pidfd.get(), EPOLLIN, &onExited, run.get()) >= 0;
  }
  if (ok) {
    run->exited.reset(source);
    sd_event_source_set_io_fd_own(source, 1);
    pidfd.release();
    ok = sd_event_add_time(event_, &source, CLOCK_MONOTONIC, 0, 0, &onLimit, run.get()) >= 0;
  }
  if (ok) {
    run->limit.reset(source);
    ok = sd::fireAfter(source, limit_) >= 0;
  }
  if (!ok) {
    killAndReap(run->pid);
    return false;
  }
  runs_.emplace(run->pid, std::move(run));
  return true;
}

int ChildRuns::onOutput(sd_event_source*, int, std::uint32_t, void* userdata) {
  static_cast<Run*>(userdata)->drain();
  return 0;
}

int ChildRuns::onExited(sd_event_source*, int, std::uint32_t, void* userdata) {
  auto* run = static_cast<Run*>(userdata);
  ChildRuns* self = run->owner;
  run->drain();
  int status = 0;
  const bool ended = ::waitpid(run->pid, &status, 0) == run->pid;
  // Out of the set before it is told: `finished` may start another run.
  const auto found = self->runs_.find(run->pid);
  const std::unique_ptr<Run> done = std::move(found->second);
  self->runs_.erase(found);
  done->finished(ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1, done->output);
  return 0;
}

int ChildRuns::onLimit(sd_event_source*, std::uint64_t, void* userdata) {
  // Its end comes through the pidfd, like any other.
  ::kill(static_cast<Run*>(userdata)->pid, SIGKILL);
  return 0;
}

}  // namespace wexla::base
