// The helper on Linux: one sd-event loop serves the system bus and the watchdog timer, so every
// request and every tick runs on the one thread, one at a time.
#include <signal.h>
#include <sys/syslog.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../Platform.hpp"
#include "HelperProtocol.hpp"
#include "Journal.hpp"
#include "LogindSleepBackend.hpp"
#include "PolkitAuthority.hpp"
#include "SdBus.hpp"

namespace wexla::helper {

namespace {

class JournalLog final : public Log {
 public:
  void write(LogLevel level, std::string_view message) override {
    sd::writeJournal({"wexla_helper", "dev.wexla.helper", "daemon"},
                     level == LogLevel::info ? LOG_INFO : LOG_ERR, std::string(message));
  }
};

class LinuxPlatform final : public Platform {
 public:
  LinuxPlatform() {
    sd_event* event = nullptr;
    if (sd_event_default(&event) >= 0) event_.reset(event);
  }
  // The loop and the bus hold this object's address.
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

  std::unique_ptr<Log> makeLog() override { return std::make_unique<JournalLog>(); }
  std::unique_ptr<kit::SleepBackend> makeSleepBackend() override {
    return std::make_unique<kit::LogindSleepBackend>();
  }
  kit::DaemonPower::Snapshot powerSnapshot() override { return kit::DaemonPower::snapshot(); }
  kit::TimePoint now() override { return kit::Clock::now(); }

  void startTimer(std::chrono::seconds interval, std::function<void()> tick) override {
    tick_ = std::move(tick);
    interval_ = static_cast<std::uint64_t>(interval.count()) * 1'000'000;
    // An accuracy of 0 would mean the default of 250 ms; the ticks are due on time.
    sd_event_source* timer = nullptr;
    if (!event_ || sd_event_add_time_relative(event_.get(), &timer, CLOCK_MONOTONIC, interval_, 1,
                                              &onTimer, this) < 0) {
      failed_ = true;
    }
    timer_.reset(timer);
  }

  void startListener(ListenerDelegate& delegate) override {
    delegate_ = &delegate;
    sd_bus* bus = nullptr;
    if (failed_ || sd_bus_open_system(&bus) < 0) {
      failed_ = true;
      return;
    }
    bus_.reset(bus);
    // Without its connection the helper has no name and nobody can reach it: it ends, and
    // systemd starts it again.
    if (sd_bus_set_exit_on_disconnect(bus, 1) < 0 ||
        sd_bus_attach_event(bus, event_.get(), 0) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, kit::HelperProtocol::kObjectPath,
                                 kit::HelperProtocol::kInterface, kVtable, this) < 0 ||
        sd_bus_match_signal(bus, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged", &onOwnerChanged,
                            this) < 0 ||
        sd_bus_request_name(bus, kit::HelperProtocol::kBusName, 0) < 0) {
      failed_ = true;
    }
  }

  int runForever(std::function<void()> stopping) override {
    stopping_ = std::move(stopping);
    // The signal comes through the loop, so that the release runs there, between two requests.
    sigset_t terminate;
    sigemptyset(&terminate);
    sigaddset(&terminate, SIGTERM);
    if (failed_ || sigprocmask(SIG_BLOCK, &terminate, nullptr) < 0 ||
        sd_event_add_signal(event_.get(), nullptr, SIGTERM, &onTerminate, this) < 0) {
      return 1;
    }
    // 0 after SIGTERM; EXIT_FAILURE from the bus when its connection is lost.
    const int status = sd_event_loop(event_.get());
    return status < 0 ? 1 : status;
  }

 private:
  static int onTerminate(sd_event_source* source, const signalfd_siginfo*, void* userdata) {
    static_cast<LinuxPlatform*>(userdata)->stopping_();
    return sd_event_exit(sd_event_source_get_event(source), 0);
  }

  static int onTimer(sd_event_source* source, std::uint64_t, void* userdata) {
    auto* self = static_cast<LinuxPlatform*>(userdata);
    self->tick_();
    // The next tick is due one interval after the last was due, not after it ended.
    std::uint64_t due = 0;
    sd_event_source_get_time(source, &due);
    sd_event_source_set_time(source, due + self->interval_);
    sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
    return 0;
  }

  // A caller's first call asks polkit without waiting for it; its calls wait until the verdict
  // comes, while everybody else's calls and the ticks go on. The verdict holds until the caller
  // leaves the bus.
  struct Caller {
    enum class State { asking, admitted, refused } state = State::asking;
    sd::Slot question;
    std::vector<sd::Message> held;  // in the order they came
  };

  static int onCall(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<LinuxPlatform*>(userdata);
    const char* sender = sd_bus_message_get_sender(m);
    if (sender == nullptr) {
      return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "the caller has no bus name");
    }
    const auto [entry, isNew] = self->callers_.try_emplace(sender);
    if (isNew) self->ask(entry->first);
    switch (entry->second.state) {
      case Caller::State::asking:
        entry->second.held.emplace_back(sd_bus_message_ref(m));
        return 1;  // answered when the verdict comes
      case Caller::State::admitted:
        return self->serve(m);
      case Caller::State::refused:
        break;
    }
    return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED,
                            "not authorised to control the helper");
  }

  void ask(const std::string& name) {
    Caller& caller = callers_[name];
    caller.question =
        polkit_.ask(bus_.get(), name, [this, name](bool authorized) { decide(name, authorized); });
    if (!caller.question) decide(name, false);
  }

  void decide(const std::string& name, bool authorized) {
    const auto entry = callers_.find(name);
    if (entry == callers_.end()) return;
    Caller& caller = entry->second;
    const bool accepted =
        delegate_->shouldAcceptNewConnection([&](const std::string&) { return authorized; });
    caller.state = accepted ? Caller::State::admitted : Caller::State::refused;
    caller.question.reset();  // the bus keeps it alive while its callback runs
    for (const sd::Message& call : std::exchange(caller.held, {})) {
      if (accepted) {
        serve(call.get());
      } else {
        sd_bus_reply_method_errorf(call.get(), SD_BUS_ERROR_ACCESS_DENIED,
                                   "not authorised to control the helper");
      }
    }
  }

  int serve(sd_bus_message* m) {
    HelperService& service = delegate_->service();
    const std::string_view method = sd_bus_message_get_member(m);
    if (method == kit::HelperProtocol::kSetDisableSleep) {
      int on = 0;
      if (const int r = sd_bus_message_read(m, "b", &on); r < 0) return r;
      return sd_bus_reply_method_return(m, "b", service.setDisableSleep(on != 0));
    }
    if (method == kit::HelperProtocol::kHeartbeat) {
      return sd_bus_reply_method_return(m, "b", service.heartbeat());
    }
    return sd_bus_reply_method_return(m, "b", service.currentDisableSleep());
  }

  static int onOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    const char* previous = nullptr;
    const char* next = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &previous, &next) >= 0 && next[0] == '\0') {
      // Also withdraws a question still open and drops the calls that wait for it.
      static_cast<LinuxPlatform*>(userdata)->callers_.erase(name);
    }
    return 0;
  }

  // Anyone may call; the helper itself decides, through polkit.
  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("SetDisableSleep", "b", "b", &onCall, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Heartbeat", "", "b", &onCall, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("CurrentDisableSleep", "", "b", &onCall, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };

  // Declared in this order so that the bus and the timer go before the loop they are attached to.
  sd::Event event_;
  sd::EventSource timer_;
  sd::Bus bus_;
  std::function<void()> tick_;
  std::function<void()> stopping_;
  std::uint64_t interval_ = 0;
  ListenerDelegate* delegate_ = nullptr;
  kit::PolkitAuthority polkit_;
  std::map<std::string, Caller> callers_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Platform> makePlatform() { return std::make_unique<LinuxPlatform>(); }

}  // namespace wexla::helper
