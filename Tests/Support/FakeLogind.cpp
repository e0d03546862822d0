// Stands in for logind on a test's private system bus: hands out inhibitor locks and lists them.
// Intentionally simplistic. Each lock is the write end of a pipe; when every copy of it is
// closed (released, or its holder died) the lock is gone. SIGUSR1 makes it forget every lock, as
// a restarted logind does. Reports on standard output:
//   ready
//   inhibit <what> <who> <mode> <pid>
//   released <who> <pid>
//   dropped
#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <utility>

#include "SdBus.hpp"
#include "StandInBus.hpp"

namespace {

struct Lock {
  std::string what, who, why, mode;
  std::uint32_t uid = 0;
  std::uint32_t pid = 0;
  wexla::sd::EventSource watch;  // owns the read end
};

std::list<Lock> locks;
sd_event* event = nullptr;

int onReleased(sd_event_source* source, int, std::uint32_t, void*) {
  for (auto it = locks.begin(); it != locks.end(); ++it) {
    if (it->watch.get() != source) continue;
    std::printf("released %s %u\n", it->who.c_str(), it->pid);
    std::fflush(stdout);
    locks.erase(it);
    break;
  }
  return 0;
}

int onDrop(sd_event_source*, const signalfd_siginfo*, void*) {
  locks.clear();
  std::printf("dropped\n");
  std::fflush(stdout);
  return 0;
}

int onInhibit(sd_bus_message* m, void*, sd_bus_error*) {
  Lock lock;
  const char *what, *who, *why, *mode;
  int r = sd_bus_message_read(m, "ssss", &what, &who, &why, &mode);
  if (r < 0) return r;
  lock.what = what;
  lock.who = who;
  lock.why = why;
  lock.mode = mode;
  sd_bus_creds* creds = nullptr;
  if (sd_bus_query_sender_creds(m, SD_BUS_CREDS_PID | SD_BUS_CREDS_EUID, &creds) >= 0) {
    pid_t pid = 0;
    uid_t uid = 0;
    sd_bus_creds_get_pid(creds, &pid);
    sd_bus_creds_get_euid(creds, &uid);
    lock.pid = static_cast<std::uint32_t>(pid);
    lock.uid = uid;
    sd_bus_creds_unref(creds);
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) < 0) return -errno;
  // The read end hangs up once the last copy of the write end is closed.
  sd_event_source* watch = nullptr;
  r = sd_event_add_io(event, &watch, fds[0], EPOLLIN, onReleased, nullptr);
  if (r < 0) return r;
  lock.watch.reset(watch);
  sd_event_source_set_io_fd_own(watch, 1);
  r = sd_bus_reply_method_return(m, "h", fds[1]);  // the reply carries a copy
  ::close(fds[1]);
  std::printf("inhibit %s %s %s %u\n", what, who, mode, lock.pid);
  std::fflush(stdout);
  locks.push_back(std::move(lock));
  return r;
}

int onList(sd_bus_message* m, void*, sd_bus_error*) {
  sd_bus_message* raw = nullptr;
  int r = sd_bus_message_new_method_return(m, &raw);
  const wexla::sd::Message owned(raw);
  sd_bus_message* reply = owned.get();
  if (r >= 0) r = sd_bus_message_open_container(reply, 'a', "(ssssuu)");
  for (const Lock& lock : locks) {
    if (r >= 0) {
      r = sd_bus_message_append(reply, "(ssssuu)", lock.what.c_str(), lock.who.c_str(),
                                lock.why.c_str(), lock.mode.c_str(), lock.uid, lock.pid);
    }
  }
  if (r >= 0) r = sd_bus_message_close_container(reply);
  if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
  return r;
}

const sd_bus_vtable kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", onInhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ListInhibitors", "", "a(ssssuu)", onList, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main() {
  sigset_t drop;
  sigemptyset(&drop);
  sigaddset(&drop, SIGUSR1);
  sigprocmask(SIG_BLOCK, &drop, nullptr);
  sd_bus* bus = nullptr;
  if (sd_event_default(&event) < 0 || sd_bus_open_system(&bus) < 0 ||
      sd_event_add_signal(event, nullptr, SIGUSR1, onDrop, nullptr) < 0 ||
      sd_bus_attach_event(bus, event, 0) < 0 ||
      sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", kVtable, nullptr) < 0 ||
      !wexla::test::ownBusName(bus, "org.freedesktop.login1")) {
    std::fprintf(stderr, "wexla_fake_logind: cannot serve on the system bus\n");
    return 1;
  }
  return wexla::test::serveForever(event);
}
