// The helper on Linux: one sd-event loop serves the system bus and the watchdog timer, so every
// request and every tick runs on the one thread, one at a time.
#include <signal.h>
#include <sys/syslog.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../Platform.hpp"
#include "BusSender.hpp"
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
    // An absolute first time, not sd_event_add_time_relative: that needs libsystemd 247, and the
    // helper runs on 245. An accuracy of 0 would mean the default of 250 ms; the ticks are due
    // on time.
    sd_event_source* timer = nullptr;
    std::uint64_t start = 0;
    if (!event_ || sd_event_now(event_.get(), CLOCK_MONOTONIC, &start) < 0 ||
        sd_event_add_time(event_.get(), &timer, CLOCK_MONOTONIC, start + interval_, 1, &onTimer,
                          this) < 0) {
      fail("cannot start the watchdog timer");
    }
    timer_.reset(timer);
  }

  void startListener(ListenerDelegate& delegate) override {
    delegate_ = &delegate;
    sd_bus* bus = nullptr;
    if (failed_ || sd_bus_open_system(&bus) < 0) {
      fail("cannot reach the system bus");
      return;
    }
    bus_.reset(bus);
    // Without its connection the helper has no name and nobody can reach it: it ends, and
    // systemd starts it again.
    if (sd_bus_set_exit_on_disconnect(bus, 1) < 0 ||
        sd_bus_attach_event(bus, event_.get(), 0) < 0 ||
        sd_bus_match_signal(bus, nullptr, nullptr, "/org/freedesktop/DBus/Local",
                            "org.freedesktop.DBus.Local", "Disconnected", &onDisconnected,
                            this) < 0 ||
        sd_bus_add_object_vtable(bus, nullptr, kit::HelperProtocol::kObjectPath,
                                 kit::HelperProtocol::kInterface, kVtable, this) < 0 ||
        sd_bus_match_signal(bus, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged", &onOwnerChanged,
                            this) < 0) {
      fail("cannot serve on the system bus");
    } else if (const int r = sd_bus_request_name(bus, kit::HelperProtocol::kBusName, 0); r < 0) {
      fail(std::string("cannot own the name ") + kit::HelperProtocol::kBusName + " (" +
           (r == -EEXIST ? "another helper has it" : std::strerror(-r)) + ")");
    }
  }

  void rest(std::function<kit::IdleRule::Next(bool called)> plan) override {
    plan_ = std::move(plan);
    pace(false);
  }

  int runForever(std::function<void()> stopping) override {
    stopping_ = std::move(stopping);
    // The signals come through the loop, so that the release runs there, between two requests.
    sigset_t terminate;
    sigemptyset(&terminate);
    for (const int number : kStopSignals) sigaddset(&terminate, number);
    bool listening = !failed_ && sigprocmask(SIG_BLOCK, &terminate, nullptr) >= 0;
    for (const int number : kStopSignals) {
      listening =
          listening && sd_event_add_signal(event_.get(), nullptr, number, &onTerminate, this) >= 0;
    }
    if (!listening) {
      fail("cannot take the stop signals");
      return 1;
    }
    // 0 after a stop signal; EXIT_FAILURE when the bus's connection is lost.
    const int status = sd_event_loop(event_.get());
    return status < 0 ? 1 : status;
  }

 private:
  static constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

  // Said once, the first reason only: what follows it fails for that reason.
  void fail(const std::string& why) {
    if (!failed_) log_.write(LogLevel::error, "stopping: " + why);
    failed_ = true;
  }

  // The bus is gone, and with it every caller: say so, then end with a failure.
  static int onDisconnected(sd_bus_message* m, void* userdata, sd_bus_error*) {
    if (!sd::sentBy(m, sd::kThisLibrary)) return 0;
    auto* self = static_cast<LinuxPlatform*>(userdata);
    self->log_.write(LogLevel::error, kLostBusMessage);
    return sd_event_exit(self->event_.get(), EXIT_FAILURE);
  }

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
    self->pace(false);
    return 0;
  }

  // Ticks while something is held; otherwise the timer waits for the time to end, if any, or is
  // off until a call.
  void pace(bool called) {
    if (!plan_ || !timer_) return;
    const kit::IdleRule::Next next = plan_(called);
    switch (next.action) {
      case kit::IdleRule::Action::tick:
        if (resting_) sd::fireAfter(timer_.get(), std::chrono::microseconds(interval_));
        resting_ = false;
        return;
      case kit::IdleRule::Action::wait:
        resting_ = true;
        if (!next.until) {
          sd_event_source_set_enabled(timer_.get(), SD_EVENT_OFF);
          return;
        }
        sd::fireAfter(timer_.get(), std::max(std::chrono::microseconds(0),
                                             std::chrono::ceil<std::chrono::microseconds>(
                                                 *next.until - kit::Clock::now())));
        return;
      case kit::IdleRule::Action::exit:
        if (stopping_) stopping_();
        sd_event_exit(event_.get(), 0);
        return;
    }
  }

  // A caller with a live hold is served at once: its admission lasts as long as that hold. Any
  // other call asks polkit first, without waiting for it: the caller's calls wait for the answer
  // while everybody else's calls and the ticks go on, and the answer is not kept beyond them,
  // so a refusal never sticks and a new hold is always a new question.
  struct Question {
    sd::Slot slot;
    std::vector<sd::Message> held;  // in the order they came
  };
  // Calls a caller may have waiting for one answer; the bus bounds the callers.
  static constexpr std::size_t kMaxWaitingCalls = 16;

  static int onCall(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<LinuxPlatform*>(userdata);
    const char* sender = sd_bus_message_get_sender(m);
    if (sender == nullptr) {
      return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "the caller has no bus name");
    }
    const auto open = self->questions_.find(sender);
    if (open == self->questions_.end() && self->delegate_->service().holds(sender)) {
      const int served = self->serve(sender, m);
      self->pace(true);
      return served;
    }
    if (open != self->questions_.end() && open->second.held.size() >= kMaxWaitingCalls) {
      return sd_bus_error_set(error, SD_BUS_ERROR_LIMITS_EXCEEDED,
                              "too many calls waiting for polkit");
    }
    const auto [entry, isNew] = self->questions_.try_emplace(sender);
    entry->second.held.emplace_back(sd_bus_message_ref(m));
    if (isNew) self->ask(entry->first);
    self->pace(true);
    return 1;  // answered when the verdict comes
  }

  void ask(const std::string& name) {
    Question& question = questions_[name];
    question.slot =
        polkit_.ask(bus_.get(), name,
                    [this, name](kit::PolkitAuthority::Answer answer) { decide(name, answer); });
    if (!question.slot) decide(name, kit::PolkitAuthority::Answer::unanswered);
  }

  // `name` is a copy: the question that holds the original goes here.
  void decide(std::string name, kit::PolkitAuthority::Answer answer) {
    const auto entry = questions_.find(name);
    if (entry == questions_.end()) return;
    const std::vector<sd::Message> held = std::exchange(entry->second.held, {});
    // The bus keeps the slot alive while its callback runs.
    questions_.erase(entry);
    const bool accepted = delegate_->shouldAcceptNewConnection(
        [&](const std::string&) { return answer == kit::PolkitAuthority::Answer::authorized; },
        refusal(name, answer));
    for (const sd::Message& call : held) {
      if (accepted) {
        serve(name, call.get());
      } else if (answer == kit::PolkitAuthority::Answer::denied) {
        sd_bus_reply_method_errorf(call.get(), SD_BUS_ERROR_ACCESS_DENIED,
                                   "not authorised to control the helper");
      } else {
        sd_bus_reply_method_errorf(call.get(), kit::HelperProtocol::kErrorUnchecked,
                                   "polkit gave no answer; try again later");
      }
    }
    pace(true);
  }

  static std::string refusal(const std::string& name, kit::PolkitAuthority::Answer answer) {
    const std::string why = answer == kit::PolkitAuthority::Answer::denied
                                ? "polkit denied "
                                : "polkit gave no answer about ";
    return "rejected caller " + name + " (" + why + kit::PolkitAuthority::kActionID + ")";
  }

  int serve(const std::string& caller, sd_bus_message* m) {
    HelperService& service = delegate_->service();
    const std::string_view method = sd_bus_message_get_member(m);
    if (method == kit::HelperProtocol::kSetDisableSleep) {
      int on = 0;
      if (const int r = sd_bus_message_read(m, "b", &on); r < 0) return r;
      return sd_bus_reply_method_return(m, "b", service.setDisableSleep(caller, on != 0));
    }
    if (method == kit::HelperProtocol::kHeartbeat) {
      return sd_bus_reply_method_return(m, "b", service.heartbeat(caller));
    }
    return sd_bus_reply_method_return(m, "b", service.currentDisableSleep(caller));
  }

  // Believed only from the bus: anybody could say that somebody else's connection left.
  static int onOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    const char* previous = nullptr;
    const char* next = nullptr;
    if (sd::readNameOwnerChanged(m, &name, &previous, &next) && next[0] == '\0') {
      auto* self = static_cast<LinuxPlatform*>(userdata);
      // Also withdraws a question still open and drops the calls that wait for it.
      self->questions_.erase(name);
      self->delegate_->service().callerLeft(name);
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
  std::function<kit::IdleRule::Next(bool called)> plan_;
  bool resting_ = false;  // the timer waits or is off instead of ticking
  std::uint64_t interval_ = 0;
  ListenerDelegate* delegate_ = nullptr;
  kit::PolkitAuthority polkit_;
  std::map<std::string, Question> questions_;  // by caller
  JournalLog log_;                             // why it ends, when it ends with a failure
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Platform> makePlatform() { return std::make_unique<LinuxPlatform>(); }

}  // namespace wexla::helper
