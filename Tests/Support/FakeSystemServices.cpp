// Stand-ins for logind and polkit on a test's private system bus, built as wexla_fake_logind and
// wexla_fake_polkit (WEXLA_STAND_IN says which). Each says "ready" once it owns its name.
//
// logind hands out inhibitor locks and lists them. A lock is the write end of a pipe, gone once
// every copy is closed (released, or its holder died); SIGUSR1 forgets every lock, as a restarted
// logind does. It says "inhibit <what> <who> <mode> <pid>", "released <who> <pid>", "dropped".
//
// polkit answers CheckAuthorization as the test chose and records each question in FILE as
// "<subject kind> <key>=<name> <action> <flags> '<cancellation id>'" (details get an error):
//   wexla_fake_polkit [--record FILE] [--answer [NAME=]ANSWER]... [--rules RULES]
// ANSWER is authorized (the default), denied, challenge, malformed (a reply of another shape) or a
// number of seconds after which it authorizes; with NAME, only about that bus name. RULES, read
// at each question as polkit reads its rules, holds the ANSWER about names without one of their
// own, when it exists.
#include <fcntl.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <list>
#include <map>
#include <string>
#include <string_view>

#include "SdBus.hpp"

namespace {

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

struct Lock {
  std::string what, who, why, mode;
  std::uint32_t pid;
  wexla::sd::EventSource watch;  // owns the read end
};
std::list<Lock> locks;

int onReleased(sd_event_source* source, int, std::uint32_t, void*) {
  locks.remove_if([&](const Lock& lock) {
    if (lock.watch.get() == source) say("released " + lock.who + " " + std::to_string(lock.pid));
    return lock.watch.get() == source;
  });
  return 0;
}

int onDrop(sd_event_source*, const signalfd_siginfo*, void*) {
  locks.clear();
  say("dropped");
  return 0;
}

int onInhibit(sd_bus_message* m, void*, sd_bus_error*) {
  const char *what, *who, *why, *mode;
  sd_bus_creds* creds = nullptr;
  pid_t pid = 0;
  int fds[2];
  sd_event_source* watch = nullptr;
  int r = sd_bus_message_read(m, "ssss", &what, &who, &why, &mode);
  if (r >= 0) r = sd_bus_query_sender_creds(m, SD_BUS_CREDS_PID, &creds);
  if (r >= 0) r = sd_bus_creds_get_pid(creds, &pid);
  sd_bus_creds_unref(creds);
  if (r >= 0) r = ::pipe2(fds, O_CLOEXEC) < 0 ? -errno : 0;
  // The read end hangs up once the last copy of the write end is closed.
  if (r >= 0)
    r = sd_event_add_io(sd_bus_get_event(sd_bus_message_get_bus(m)), &watch, fds[0], EPOLLIN,
                        onReleased, nullptr);
  if (r < 0) return r;
  sd_event_source_set_io_fd_own(watch, 1);
  locks.push_back(
      {what, who, why, mode, static_cast<std::uint32_t>(pid), wexla::sd::EventSource(watch)});
  r = sd_bus_reply_method_return(m, "h", fds[1]);  // the reply carries a copy
  ::close(fds[1]);
  say(std::string("inhibit ") + what + " " + who + " " + mode + " " + std::to_string(pid));
  return r;
}

int onList(sd_bus_message* m, void*, sd_bus_error*) {
  sd_bus_message* raw = nullptr;
  int r = sd_bus_message_new_method_return(m, &raw);
  const wexla::sd::Message reply(raw);
  if (r >= 0) r = sd_bus_message_open_container(raw, 'a', "(ssssuu)");
  for (auto lock = locks.begin(); r >= 0 && lock != locks.end(); ++lock) {
    r = sd_bus_message_append(raw, "(ssssuu)", lock->what.c_str(), lock->who.c_str(),
                              lock->why.c_str(), lock->mode.c_str(), 0u, lock->pid);
  }
  if (r >= 0) r = sd_bus_message_close_container(raw);
  return r < 0 ? r : sd_bus_send(nullptr, raw, nullptr);
}

std::string record, rules;
std::map<std::string, std::string> answers{{"", "authorized"}};  // by bus name; "" for others

int reply(sd_bus_message* m, const std::string& answer) {
  if (answer == "malformed") return sd_bus_reply_method_return(m, "s", "yes");
  return sd_bus_reply_method_return(m, "(bba{ss})", answer == "authorized", answer == "challenge",
                                    0);
}

int onLater(sd_event_source*, std::uint64_t, void* call) {
  const wexla::sd::Message held(static_cast<sd_bus_message*>(call));
  return reply(held.get(), "authorized");
}

int onCheck(sd_bus_message* m, void*, sd_bus_error*) {
  const char *kind, *key, *name, *action, *cancellation;
  std::uint32_t flags = 0;
  int r = sd_bus_message_read(m, "(sa{sv})sa{ss}us", &kind, 1, &key, "s", &name, &action, 0, &flags,
                              &cancellation);
  if (r < 0) return r;
  std::ofstream(record, std::ios::app) << kind << ' ' << key << '=' << name << ' ' << action << ' '
                                       << flags << " '" << cancellation << "'\n";
  const auto found = answers.find(name);
  std::string answer = found == answers.end() ? answers[""] : found->second;
  if (std::ifstream in(rules); found == answers.end() && in) in >> answer;
  if (!std::isdigit(static_cast<unsigned char>(answer[0]))) return reply(m, answer);
  sd_event* event = sd_bus_get_event(sd_bus_message_get_bus(m));
  std::uint64_t now = 0;
  r = sd_event_now(event, CLOCK_MONOTONIC, &now);
  if (r >= 0)
    r = sd_event_add_time(event, nullptr, CLOCK_MONOTONIC, now + std::stoull(answer) * 1'000'000, 1,
                          onLater, sd_bus_message_ref(m));
  return r < 0 ? r : 1;  // answered later
}

const sd_bus_vtable kLogind[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Inhibit", "ssss", "h", onInhibit, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ListInhibitors", "", "a(ssssuu)", onList, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};
const sd_bus_vtable kPolkit[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("CheckAuthorization", "(sa{sv})sa{ss}us", "(bba{ss})", onCheck,
                  SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main(int argc, char** argv) {
  const bool polkit = std::string_view(WEXLA_STAND_IN) == "polkit";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i], value = argv[i + 1];
    const auto equals = value.find('=');  // without one, npos + 1 is 0: the whole value
    if (flag == "--record") record = value;
    if (flag == "--rules") rules = value;
    if (flag == "--answer") {
      answers[equals == std::string::npos ? "" : value.substr(0, equals)] =
          value.substr(equals + 1);
    }
  }
  const std::string name = polkit ? "org.freedesktop.PolicyKit1" : "org.freedesktop.login1";
  sd_event* event = nullptr;
  sd_bus* bus = nullptr;
  if (sd_event_default(&event) < 0 || sd_bus_open_system(&bus) < 0 ||
      sd_bus_attach_event(bus, event, 0) < 0 ||
      (!polkit && sd_event_add_signal(event, nullptr, SIGUSR1 | SD_EVENT_SIGNAL_PROCMASK, onDrop,
                                      nullptr) < 0) ||
      sd_bus_add_object_vtable(
          bus, nullptr,
          polkit ? "/org/freedesktop/PolicyKit1/Authority" : "/org/freedesktop/login1",
          polkit ? "org.freedesktop.PolicyKit1.Authority" : "org.freedesktop.login1.Manager",
          polkit ? kPolkit : kLogind, nullptr) < 0 ||
      sd_bus_request_name(bus, name.c_str(), 0) < 0) {
    std::fprintf(stderr, "cannot serve %s on the system bus\n", name.c_str());
    return 1;
  }
  say("ready");
  return sd_event_loop(event) < 0 ? 1 : 0;
}
