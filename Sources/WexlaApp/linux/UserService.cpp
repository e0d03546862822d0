// The application on Linux: start-up, signals and the wiring of one sd-event loop. The session
// bus brings the command texts (CommandChannel), the system bus reaches the helper
// (SystemBusHelper), and the loop's own sources are the timer (BootTimer) and the process watch
// (ProcessWatches).
#include "UserService.hpp"

#include <sys/resource.h>
#include <sys/syslog.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "AppLog.hpp"
#include "Application.hpp"
#include "BootTimer.hpp"
#include "CommandChannel.hpp"
#include "Desktop.hpp"
#include "ProcessWatches.hpp"
#include "SdBus.hpp"
#include "SettingsFile.hpp"
#include "StatusText.hpp"
#include "SystemBusHelper.hpp"

namespace wexla::app {

namespace {

// Signals that end the application the way Quit does: the helper is released first.
constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Each `while` may take a descriptor: up to the hard limit, not the soft one of 1,024.
void raiseDescriptorLimit() {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
}

class UserService final : public ApplicationListener {
 public:
  UserService(const UserService&) = delete;
  UserService& operator=(const UserService&) = delete;
  UserService() = default;

  int run() {
    raiseDescriptorLimit();
    sd_event* event = nullptr;
    if (sd_event_default(&event) < 0) return fail("cannot create the event loop");
    event_.reset(event);
    settings_ = loadSettings(settingsPath());
    linkLog_.emplace(event);
    helper_.emplace(
        event, [this] { app_->helperLost(Now::current()); },
        [this] { app_->helperBack(Now::current()); });
    timer_.emplace(event, [this] { app_->tick(Now::current()); });
    processes_.emplace(event,
                       [this](std::int32_t pid) { app_->processEnded(pid, Now::current()); });
    app_.emplace(settings_, *helper_, *processes_, *timer_, *this);
    if (!timer_->ok()) return fail("cannot create the timer");

    sigset_t signals;
    sigemptyset(&signals);
    for (const int number : kQuitSignals) sigaddset(&signals, number);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    for (const int number : kQuitSignals) {
      if (sd_event_add_signal(event, nullptr, number, &onQuitSignal, this) < 0) {
        return fail("cannot handle signals");
      }
    }

    channel_.emplace(
        event, [this](std::string_view text) { return app_->handle(text, Now::current()); },
        [this] { sessionGone(); });
    if (const int r = channel_->open(); r != 0) return r;
    desktop_.emplace(channel_->bus(), event, *app_, settings_.notifications, [this] {
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

  // ApplicationListener
  void linkChanged(LinkState state) override {
    // The states the status line warns of.
    linkLog_->write(linkWarning(state) ? LOG_WARNING : LOG_INFO,
                    std::string(linkLogMessage(state)));
  }
  void statusChanged() override {
    if (desktop_) desktop_->statusChanged();
  }

 private:
  static int fail(const char* what) {
    std::fprintf(stderr, "wexla: %s\n", what);
    return 1;
  }

  static int onQuitSignal(sd_event_source* source, const signalfd_siginfo*, void* userdata) {
    auto* self = static_cast<UserService*>(userdata);
    self->app_->quit();
    return sd_event_exit(sd_event_source_get_event(source), 0);
  }

  // Logging out, or the bus going away: let go, and leave with a status that tells systemd.
  void sessionGone() {
    log(LOG_WARNING, "the session bus went away; releasing and leaving");
    app_->quit();
    sd_event_exit(event_.get(), 1);
  }

  sd::Event event_;
  Settings settings_;
  std::optional<LimitedLog> linkLog_;
  std::optional<SystemBusHelper> helper_;
  std::optional<BootTimer> timer_;
  std::optional<ProcessWatches> processes_;
  std::optional<Application> app_;
  std::optional<CommandChannel> channel_;
  std::optional<Desktop> desktop_;  // goes before the channel's bus
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
