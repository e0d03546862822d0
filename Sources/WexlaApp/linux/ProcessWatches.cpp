#include "ProcessWatches.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "AppLog.hpp"
#include "FileDescriptor.hpp"

namespace wexla::app {

namespace {

// Descriptors kept free for what the application cannot do without: reconnecting to a bus,
// reading a file.
constexpr std::uint64_t kReservedDescriptors = 16;

// What /proc says of a process: whether it lives, and what tells it from a later process given
// its number, its start time in clock ticks since boot (nothing when it cannot be read).
struct ProcessReading {
  bool alive = false;
  std::optional<std::uint64_t> startTime;
};

ProcessReading readProcess(std::int32_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // Out of descriptors is no reason to drop a live process: ask the kernel the plain way.
    const bool alive = errno != ENOENT && (::kill(pid, 0) == 0 || errno == EPERM);
    return {alive, std::nullopt};
  }
  char stat[1024];
  const ssize_t length = ::read(fd, stat, sizeof stat - 1);
  ::close(fd);
  if (length <= 0) return {};
  stat[length] = '\0';
  // The name in parentheses may hold blanks and parentheses: the fields follow the last ')'.
  const char* close = std::strrchr(stat, ')');
  char state = 0;
  unsigned long long start = 0;
  // State, then 18 fields, then the start time (fields 3 and 22 of proc(5)).
  if (close == nullptr ||
      std::sscanf(
          close + 1,
          " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu",
          &state, &start) != 2) {
    return {};
  }
  // A zombie has ended; it only waits for its parent.
  if (state == 'Z' || state == 'X') return {};
  return {true, start};
}

bool readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0;
}

}  // namespace

// A watch by pidfd (`source` set), or by its start time, looked at at every poll.
struct ProcessWatches::Watch {
  ProcessWatches* owner;
  std::int32_t pid;
  sd::EventSource source;  // owns the pidfd
  std::optional<std::uint64_t> startTime;
};

ProcessWatches::ProcessWatches(sd_event* event, std::function<void(std::int32_t)> ended)
    : event_(event), ended_(std::move(ended)) {
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  pidfdLimit_ = files.rlim_cur > kReservedDescriptors ? files.rlim_cur - kReservedDescriptors : 0;
}

ProcessWatches::~ProcessWatches() = default;

bool ProcessWatches::watch(std::int32_t pid) {
  if (const auto found = watches_.find(pid); found != watches_.end() && running(*found->second)) {
    return true;
  }
  std::unique_ptr<Watch> watch = open(pid);
  // No live process: an ended one with this number keeps its watch, so its end is still told.
  if (!watch) return false;
  // A new process with the number of one that ended unseen: the old end goes untold.
  watches_[pid] = std::move(watch);
  return true;
}

void ProcessWatches::unwatch(std::int32_t pid) {
  watches_.erase(pid);
  if (poll_ && std::none_of(watches_.begin(), watches_.end(),
                            [](const auto& entry) { return !entry.second->source; })) {
    poll_.reset();
  }
}

std::unique_ptr<ProcessWatches::Watch> ProcessWatches::open(std::int32_t pid) {
  auto watch = std::make_unique<Watch>(Watch{this, pid, {}, {}});
  base::FileDescriptor fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (!fd && errno == ESRCH) return nullptr;
  if (fd && static_cast<std::uint64_t>(fd.get()) < pidfdLimit_) {
    // Readable at once: the process has ended and waits for its parent (a zombie).
    if (readable(fd.get())) return nullptr;
    sd_event_source* source = nullptr;
    if (sd_event_add_io(event_, &source, fd.get(), EPOLLIN, &onPidfd, watch.get()) >= 0) {
      sd_event_source_set_io_fd_own(source, 1);
      fd.release();
      // Texts first: a `while` for a number whose process ended unseen is answered for the process
      // that has the number now, and that old end is then never told.
      sd_event_source_set_priority(source, SD_EVENT_PRIORITY_IDLE);
      watch->source.reset(source);
      return watch;
    }
  }
  const int error = fd ? EMFILE : errno;
  fd.reset();
  const ProcessReading reading = readProcess(pid);
  if (!reading.alive) return nullptr;
  watch->startTime = reading.startTime;
  if (!poll_) {
    sd_event_source* source = nullptr;
    if (sd_event_add_time(event_, &source, CLOCK_MONOTONIC, 0, 0, &onPoll, this) < 0) {
      return nullptr;
    }
    poll_.reset(source);
    sd::fireAfter(source, kPollEvery, SD_EVENT_ON);
  }
  if (!toldOfPolling_) {
    toldOfPolling_ = true;
    log(LOG_WARNING, std::string("no process descriptor for while (") + std::strerror(error) +
                         "); looking at such processes every " +
                         std::to_string(kPollEvery.count()) + " seconds instead");
  }
  return watch;
}

bool ProcessWatches::running(Watch& watch) const {
  if (watch.source) return !readable(sd_event_source_get_io_fd(watch.source.get()));
  const ProcessReading reading = readProcess(watch.pid);
  if (!reading.alive) return false;
  if (!reading.startTime || !watch.startTime) {
    if (!watch.startTime) watch.startTime = reading.startTime;
    return true;
  }
  return *reading.startTime == *watch.startTime;
}

int ProcessWatches::onPidfd(sd_event_source*, int, std::uint32_t, void* userdata) {
  const auto* watch = static_cast<Watch*>(userdata);
  watch->owner->ended_(watch->pid);
  return 0;
}

int ProcessWatches::onPoll(sd_event_source* source, std::uint64_t, void* userdata) {
  auto* self = static_cast<ProcessWatches*>(userdata);
  std::vector<std::int32_t> gone;
  for (const auto& [pid, watch] : self->watches_) {
    if (!watch->source && !self->running(*watch)) gone.push_back(pid);
  }
  sd::fireAfter(source, kPollEvery, SD_EVENT_ON);
  // Each end is handled by the application, which unwatches it (and may drop the poll source).
  for (const std::int32_t pid : gone) self->ended_(pid);
  return 0;
}

}  // namespace wexla::app
