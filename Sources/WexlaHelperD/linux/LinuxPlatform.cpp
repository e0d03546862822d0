// The helper on Linux: one sd-event loop serves the system bus and the watchdog timer, so every
// request and every tick runs on the one thread, one at a time.
#include <sys/syslog.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <systemd/sd-journal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "../Platform.hpp"
#include "HelperProtocol.hpp"
#include "LogindSleepBackend.hpp"
#include "PolkitAuthority.hpp"

namespace wexla::helper {

namespace {

// journald, with the fields of the macOS log; a copy goes to standard error when the helper
// does not run under the journal (started by hand).
class JournalLog final : public Log {
 public:
  JournalLog() : echo_(std::getenv("JOURNAL_STREAM") == nullptr) {}

  void write(LogLevel level, std::string_view message) override {
    const int priority = level == LogLevel::info ? LOG_INFO : LOG_ERR;
    const std::string text(message);
    sd_journal_send("MESSAGE=%s", text.c_str(), "PRIORITY=%i", priority,
                    "SYSLOG_IDENTIFIER=wexla_helper", "WEXLA_SUBSYSTEM=dev.wexla.helper",
                    "WEXLA_CATEGORY=daemon", nullptr);
    if (echo_) {
      std::fprintf(stderr, "<%d>%s\n", priority, text.c_str());
      std::fflush(stderr);
    }
  }

 private:
  bool echo_;
};

class LinuxPlatform final : public Platform {
 public:
  LinuxPlatform() { sd_event_default(&event_); }
  ~LinuxPlatform() override {
    sd_event_source_unref(timer_);
    sd_bus_flush_close_unref(bus_);
    sd_event_unref(event_);
  }

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
    if (event_ == nullptr || sd_event_add_time_relative(event_, &timer_, CLOCK_MONOTONIC, interval_,
                                                        1, &onTimer, this) < 0) {
      failed_ = true;
    }
  }

  void startListener(ListenerDelegate& delegate) override {
    delegate_ = &delegate;
    if (failed_ || sd_bus_open_system(&bus_) < 0 || sd_bus_attach_event(bus_, event_, 0) < 0 ||
        sd_bus_add_object_vtable(bus_, nullptr, kit::HelperProtocol::kObjectPath,
                                 kit::HelperProtocol::kInterface, kVtable, this) < 0 ||
        sd_bus_match_signal(bus_, nullptr, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged", &onOwnerChanged,
                            this) < 0 ||
        sd_bus_request_name(bus_, kit::HelperProtocol::kBusName, 0) < 0) {
      failed_ = true;
    }
  }

  int runForever() override {
    if (failed_) return 1;
    return sd_event_loop(event_) < 0 ? 1 : 0;
  }

 private:
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

  // The first call of a sender asks polkit; the verdict holds until the sender leaves the bus.
  bool admitted(sd_bus_message* message, sd_bus_error* error) {
    const char* sender = sd_bus_message_get_sender(message);
    auto verdict = sender == nullptr ? verdicts_.end() : verdicts_.find(sender);
    if (sender == nullptr) {
      sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "the caller has no bus name");
      return false;
    }
    if (verdict == verdicts_.end()) {
      const bool accepted = delegate_->shouldAcceptNewConnection(
          [&](const std::string&) { return polkit_.isAuthorized(bus_, sender); });
      verdict = verdicts_.emplace(sender, accepted).first;
    }
    if (verdict->second) return true;
    sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "not authorised to control the helper");
    return false;
  }

  static int onSetDisableSleep(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<LinuxPlatform*>(userdata);
    int on = 0;
    if (const int r = sd_bus_message_read(m, "b", &on); r < 0) return r;
    if (!self->admitted(m, error)) return -EACCES;
    return sd_bus_reply_method_return(m, "b", self->delegate_->service().setDisableSleep(on != 0));
  }

  static int onHeartbeat(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<LinuxPlatform*>(userdata);
    if (!self->admitted(m, error)) return -EACCES;
    return sd_bus_reply_method_return(m, "b", self->delegate_->service().heartbeat());
  }

  static int onCurrentDisableSleep(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<LinuxPlatform*>(userdata);
    if (!self->admitted(m, error)) return -EACCES;
    return sd_bus_reply_method_return(m, "b", self->delegate_->service().currentDisableSleep());
  }

  static int onOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    const char* name = nullptr;
    const char* previous = nullptr;
    const char* next = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &previous, &next) >= 0 && next[0] == '\0') {
      static_cast<LinuxPlatform*>(userdata)->verdicts_.erase(name);
    }
    return 0;
  }

  // Anyone may call; the helper itself decides, through polkit.
  static constexpr sd_bus_vtable kVtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("SetDisableSleep", "b", "b", &onSetDisableSleep, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("Heartbeat", "", "b", &onHeartbeat, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_METHOD("CurrentDisableSleep", "", "b", &onCurrentDisableSleep,
                    SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };

  sd_event* event_ = nullptr;
  sd_event_source* timer_ = nullptr;
  sd_bus* bus_ = nullptr;
  std::function<void()> tick_;
  std::uint64_t interval_ = 0;
  ListenerDelegate* delegate_ = nullptr;
  kit::PolkitAuthority polkit_;
  std::map<std::string, bool> verdicts_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<Platform> makePlatform() { return std::make_unique<LinuxPlatform>(); }

}  // namespace wexla::helper
