// Distributed notifications as a broadcast signal on the D-Bus session bus: any program that
// emits or matches the signal below takes part, as on the macOS distributed center.
#include <systemd/sd-bus.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "../NotificationCenter.hpp"
#include "ApplicationChannel.hpp"

namespace wexla::cli {

namespace {

using channel::kCenterInterface;
using channel::kCenterPath;
using channel::kCenterSignal;

using Clock = std::chrono::steady_clock;

// A bus that accepts the connection and then never answers must not hold the tool (or the
// agent running it as a hook) for the library's default of 25 s.
constexpr std::chrono::seconds kBusSetupLimit{2};

struct BusCloser {
  // Flushing here could hang on a broken bus; every post is flushed with a deadline instead.
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct SlotReleaser {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};

class SessionBusCenter final : public NotificationCenter {
 public:
  bool addObserver(std::string_view name, Handler handler) override {
    if (!connect()) return false;
    handler_ = std::move(handler);
    name_ = name;
    matchState_ = MatchState::pending;
    stopped_ = false;  // a reply may arrive while the post is still being flushed
    const std::string rule = std::string("type='signal',path='") + kCenterPath + "',interface='" +
                             kCenterInterface + "',member='" + kCenterSignal + "',arg0='" + name_ +
                             "'";
    sd_bus_slot* slot = nullptr;
    if (sd_bus_add_match_async(bus_.get(), &slot, rule.c_str(), &onSignal, &onMatchInstalled,
                               this) < 0) {
      return false;
    }
    slot_.reset(slot);
    // The match must be in force at the bus before the command leaves, or a quick reply is lost.
    const bool answered =
        pumpUntil([this] { return matchState_ != MatchState::pending; }, setupDeadline_);
    return answered && matchState_ == MatchState::installed;
  }

  void removeObserver() override {
    slot_.reset();
    handler_ = nullptr;
  }

  bool post(std::string_view name, std::string_view object) override {
    if (!connect()) return false;
    const std::string nameText(name);
    const std::string objectText(object);
    if (sd_bus_emit_signal(bus_.get(), kCenterPath, kCenterInterface, kCenterSignal, "ss",
                           nameText.c_str(), objectText.c_str()) < 0) {
      return false;
    }
    return pumpUntil([this] { return queuedWrites() == 0; }, setupDeadline_);
  }

  void run(double seconds) override {
    if (!bus_) return;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(seconds));
    pumpUntil([this] { return stopped_; }, deadline);
    if (!stopped_) return;
    // Replies that already reached the tool together with the first one are delivered in the
    // same pass, so the latest of them wins.
    while (Clock::now() < deadline && sd_bus_process(bus_.get(), nullptr) > 0) {
    }
  }

  void stop() override { stopped_ = true; }

 private:
  enum class MatchState { pending, installed, refused };

  bool connect() {
    if (bus_) return true;
    if (connectFailed_) return false;
    sd_bus* bus = nullptr;
    connectFailed_ = sd_bus_open_user(&bus) < 0;
    if (connectFailed_) return false;
    // The handshake and Hello are already queued; what is sent next follows them in order, so
    // nothing waits for the bus's answer to Hello.
    bus_.reset(bus);
    setupDeadline_ = Clock::now() + kBusSetupLimit;
    return true;
  }

  std::uint64_t queuedWrites() {
    std::uint64_t count = 0;
    return sd_bus_get_n_queued_write(bus_.get(), &count) < 0 ? 0 : count;
  }

  // Serves the connection until `done` holds; false on a bus error or at the deadline.
  template <typename Done>
  bool pumpUntil(Done done, Clock::time_point deadline) {
    for (;;) {
      if (done()) return true;
      const int processed = sd_bus_process(bus_.get(), nullptr);
      if (processed < 0) return false;
      if (processed > 0) continue;
      if (done()) return true;
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return false;
      const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
      const int waited = sd_bus_wait(bus_.get(), static_cast<std::uint64_t>(micros) + 1);
      if (waited < 0 && waited != -EINTR) return false;
    }
  }

  static int onMatchInstalled(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* self = static_cast<SessionBusCenter*>(userdata);
    self->matchState_ = sd_bus_message_is_method_error(reply, nullptr) ? MatchState::refused
                                                                       : MatchState::installed;
    return 0;
  }

  static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto* self = static_cast<SessionBusCenter*>(userdata);
    if (!self->handler_) return 0;
    const char* name = nullptr;
    const char* object = nullptr;
    if (sd_bus_message_has_signature(message, "ss") &&
        sd_bus_message_read(message, "ss", &name, &object) >= 0 && self->name_ == name) {
      const std::string text(object);
      self->handler_(&text);
    } else {
      self->handler_(nullptr);
    }
    return 0;
  }

  std::unique_ptr<sd_bus, BusCloser> bus_;
  std::unique_ptr<sd_bus_slot, SlotReleaser> slot_;
  bool connectFailed_ = false;
  Clock::time_point setupDeadline_{};
  MatchState matchState_ = MatchState::pending;
  bool stopped_ = false;
  std::string name_;
  Handler handler_;
};

}  // namespace

std::unique_ptr<NotificationCenter> makeDistributedCenter() {
  return std::make_unique<SessionBusCenter>();
}

}  // namespace wexla::cli
