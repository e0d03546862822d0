// The application on Linux: a per-user service with one sd-event loop. The session bus brings the
// command texts and takes the replies, the system bus reaches the helper, pidfds watch the
// processes of `while PID`, and one CLOCK_BOOTTIME timer wakes the loop when something is due.
#include "UserService.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/syscall.h>
#include <sys/syslog.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "AppLog.hpp"
#include "Application.hpp"
#include "Desktop.hpp"
#include "SdBus.hpp"
#include "StatusText.hpp"
#include "SystemBusHelper.hpp"

namespace wexla::app {

namespace {

constexpr const char* kAppBusName = "dev.wexla.app";
constexpr const char* kCenterPath = "/dev/wexla/DistributedNotificationCenter";
constexpr const char* kCenterInterface = "dev.wexla.DistributedNotificationCenter";
constexpr const char* kCommandName = "dev.wexla.command";
constexpr const char* kStatusName = "dev.wexla.status";

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

// $XDG_CONFIG_HOME/wexla/settings.json, or ~/.config/wexla/settings.json.
std::string settingsPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // XDG base directories must be absolute; a relative one is ignored.
  if (config != nullptr && config[0] == '/') return std::string(config) + "/wexla/settings.json";
  return homeDirectory() + "/.config/wexla/settings.json";
}

Settings loadSettings() {
  const std::string path = settingsPath();
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (errno != ENOENT) {
      log(LOG_WARNING, path + " cannot be read (" + std::strerror(errno) + "); using the defaults");
    }
    return {};
  }
  const std::string text{std::istreambuf_iterator<char>(file), {}};
  const SettingsReading reading = parseSettings(text);
  if (!reading.problem.empty()) {
    log(LOG_WARNING, path + ": " + reading.problem + "; using the defaults");
  }
  return reading.settings;
}

std::uint64_t microsecondsOf(Instant instant) {
  // Rounded up: a timer that fires early would find nothing due yet.
  return static_cast<std::uint64_t>(
      std::chrono::ceil<std::chrono::microseconds>(instant.time_since_epoch()).count());
}

class UserService final : public ProcessWatch, public WakeTimer, public ApplicationListener {
 public:
  UserService(const UserService&) = delete;
  UserService& operator=(const UserService&) = delete;
  UserService() = default;

  int run() {
    sd_event* event = nullptr;
    if (sd_event_default(&event) < 0) return fail("cannot create the event loop", 0);
    event_.reset(event);
    helper_.emplace(event, [this] { app_->helperLost(Now::current()); });
    settings_ = loadSettings();
    app_.emplace(settings_, *helper_, *this, *this, *this);

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    if (sd_event_add_signal(event, nullptr, SIGTERM, &onQuitSignal, this) < 0 ||
        sd_event_add_signal(event, nullptr, SIGINT, &onQuitSignal, this) < 0) {
      return fail("cannot handle signals", 0);
    }
    sd_event_source* timer = nullptr;
    if (sd_event_add_time(event, &timer, CLOCK_BOOTTIME, 0, 1000, &onTimer, this) < 0) {
      return fail("cannot create the timer", 0);
    }
    timer_.reset(timer);
    sd_event_source_set_enabled(timer, SD_EVENT_OFF);

    if (const int r = connectSessionBus(); r != 0) return r;
    desktop_.emplace(session_.get(), event, *app_, settings_.notifications, [this] {
      app_->quit();
      sd_event_exit(event_.get(), 0);
    });
    if (const int r = desktop_->start(); r < 0) {
      log(LOG_WARNING, std::string("cannot show the tray icon: ") + std::strerror(-r));
    }
    log(LOG_INFO, "application started; one agent heartbeat holds the machine for " +
                      std::to_string(settings_.busyMinutes) + " minutes");
    const int status = sd_event_loop(event);
    return status < 0 ? 1 : status;
  }

  // ProcessWatch
  bool watch(std::int32_t pid) override {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return false;
    sd_event_source* source = nullptr;
    // The pidfd becomes readable when the process ends.
    if (sd_event_add_io(event_.get(), &source, fd, EPOLLIN, &onProcessEnded, this) < 0) {
      ::close(fd);
      return false;
    }
    sd_event_source_set_io_fd_own(source, 1);
    watches_[pid].reset(source);
    return true;
  }
  void unwatch(std::int32_t pid) override { watches_.erase(pid); }

  // WakeTimer
  void wakeAt(std::optional<Instant> when) override {
    if (!when) {
      sd_event_source_set_enabled(timer_.get(), SD_EVENT_OFF);
      return;
    }
    sd_event_source_set_time(timer_.get(), microsecondsOf(*when));
    sd_event_source_set_enabled(timer_.get(), SD_EVENT_ONESHOT);
  }

  // ApplicationListener
  void linkChanged(LinkState state) override {
    // The states the status line warns of.
    log(linkWarning(state) ? LOG_WARNING : LOG_INFO, std::string(linkLogMessage(state)));
    if (desktop_) desktop_->linkChanged();
  }
  void statusChanged() override {
    if (desktop_) desktop_->statusChanged();
  }

 private:
  int fail(const std::string& what, int error) {
    std::fprintf(stderr, "wexla: %s%s%s\n", what.c_str(), error != 0 ? ": " : "",
                 error != 0 ? std::strerror(error) : "");
    return 1;
  }

  int connectSessionBus() {
    sd_bus* bus = nullptr;
    if (const int r = sd_bus_open_user(&bus); r < 0) {
      return fail("cannot reach the session bus (is DBUS_SESSION_BUS_ADDRESS set?)", -r);
    }
    session_.reset(bus);
    const std::string commands = std::string("type='signal',path='") + kCenterPath +
                                 "',interface='" + kCenterInterface +
                                 "',member='Notification',arg0='" + kCommandName + "'";
    if (const int r = sd_bus_add_match(bus, nullptr, commands.c_str(), &onCommand, this); r < 0) {
      return fail("cannot receive commands", -r);
    }
    if (const int r =
            sd_bus_match_signal(bus, nullptr, nullptr, "/org/freedesktop/DBus/Local",
                                "org.freedesktop.DBus.Local", "Disconnected", &onSessionGone, this);
        r < 0) {
      return fail("cannot watch the session bus", -r);
    }
    if (const int r = sd_bus_attach_event(bus, event_.get(), SD_EVENT_PRIORITY_NORMAL); r < 0) {
      return fail("cannot attach the session bus", -r);
    }
    // The name last: once others see it, commands already reach us.
    if (const int r = sd_bus_request_name(bus, kAppBusName, 0); r < 0) {
      if (r == -EEXIST) {
        std::fputs("Wexla is already running\n", stderr);
        return 1;
      }
      return fail(std::string("cannot own the name ") + kAppBusName, -r);
    }
    return 0;
  }

  static int onCommand(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* self = static_cast<UserService*>(userdata);
    const char* name = nullptr;
    const char* text = nullptr;
    if (sd_bus_message_has_signature(message, "ss") <= 0 ||
        sd_bus_message_read(message, "ss", &name, &text) < 0 ||
        std::strcmp(name, kCommandName) != 0) {
      return 0;
    }
    const std::optional<std::string> reply = self->app_->handle(text, Now::current());
    if (reply) {
      sd_bus_emit_signal(self->session_.get(), kCenterPath, kCenterInterface, "Notification", "ss",
                         kStatusName, reply->c_str());
    }
    return 0;
  }

  static int onTimer(sd_event_source*, std::uint64_t, void* userdata) {
    static_cast<UserService*>(userdata)->app_->tick(Now::current());
    return 0;
  }

  static int onProcessEnded(sd_event_source* source, int, std::uint32_t, void* userdata) {
    auto* self = static_cast<UserService*>(userdata);
    for (const auto& [pid, watched] : self->watches_) {
      if (watched.get() == source) {
        self->app_->processEnded(pid, Now::current());
        break;
      }
    }
    return 0;
  }

  static int onQuitSignal(sd_event_source* source, const signalfd_siginfo*, void* userdata) {
    auto* self = static_cast<UserService*>(userdata);
    self->app_->quit();
    return sd_event_exit(sd_event_source_get_event(source), 0);
  }

  // Logging out, or the bus going away: let go, and leave with a status that tells systemd.
  static int onSessionGone(sd_bus_message*, void* userdata, sd_bus_error*) {
    auto* self = static_cast<UserService*>(userdata);
    log(LOG_WARNING, "the session bus went away; releasing and leaving");
    self->app_->quit();
    return sd_event_exit(self->event_.get(), 1);
  }

  sd::Event event_;
  sd::EventSource timer_;
  std::map<std::int32_t, sd::EventSource> watches_;
  std::optional<SystemBusHelper> helper_;
  std::optional<Application> app_;
  sd::Bus session_;
  std::optional<Desktop> desktop_;  // before the bus goes
  Settings settings_;
};

}  // namespace

int runUserService(int argc, char** argv) {
  if (argc > 1) {
    const std::string_view word = argv[1];
    if (word == "--version") {
      std::printf("wexla %s\n", WEXLA_VERSION);
      return 0;
    }
    const bool help = word == "--help" || word == "-h";
    std::fputs(
        "usage: wexla\n"
        "The Wexla application: holds the computer awake for wexlactl and AI agents, through\n"
        "the Wexla helper. It runs as a user service: systemctl --user enable --now "
        "wexla.service\n",
        help ? stdout : stderr);
    return help ? 0 : 2;
  }
  UserService service;
  return service.run();
}

}  // namespace wexla::app
