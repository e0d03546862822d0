#include "SystemBusHelper.hpp"

#include <algorithm>

#include "AsyncCall.hpp"
#include "BusSender.hpp"
#include "HelperProtocol.hpp"
#include "NameOwner.hpp"

namespace wexla::app {

namespace {

namespace protocol = kit::HelperProtocol;

constexpr int kNoArgument = -1;

HelperAnswer answerOf(sd_bus_message* message) {
  if (const sd_bus_error* error = sd_bus_message_get_error(message)) {
    // Refused only by the helper itself, a peer with a unique name: the bus also denies a call,
    // when the helper's policy is gone with its package, and sd-bus makes up errors of its own;
    // either is a helper that cannot be reached.
    const char* sender = sd_bus_message_get_sender(message);
    const bool fromHelper = sender != nullptr && sender[0] == ':';
    if (sd_bus_error_has_name(error, SD_BUS_ERROR_ACCESS_DENIED)) {
      return fromHelper ? HelperAnswer::refused : HelperAnswer::unreachable;
    }
    if (fromHelper && sd_bus_error_has_name(error, protocol::kErrorUnchecked)) {
      return HelperAnswer::unchecked;
    }
    // The bus's limit of calls under way, or its memory: this call, not the helper.
    if (sd_bus_error_has_name(error, SD_BUS_ERROR_LIMITS_EXCEEDED) ||
        sd_bus_error_has_name(error, SD_BUS_ERROR_NO_MEMORY)) {
      return HelperAnswer::busy;
    }
    return HelperAnswer::unreachable;
  }
  int value = 0;
  if (sd_bus_message_read(message, "b", &value) < 0) return HelperAnswer::unreachable;
  return value != 0 ? HelperAnswer::yes : HelperAnswer::no;
}

}  // namespace

SystemBusHelper::SystemBusHelper(sd_event* event, std::function<void()> lost,
                                 std::function<void()> back)
    : event_(event), lost_(std::move(lost)), back_(std::move(back)) {
  sd_event_source* source = nullptr;
  if (sd_event_add_defer(event_, &source, &onDeferred, this) >= 0) {
    deferred_.reset(source);
    sd_event_source_set_enabled(source, SD_EVENT_OFF);
  }
  if (sd_event_add_time(event_, &source, CLOCK_MONOTONIC, 0, 0, &onReconnect, this) >= 0) {
    reconnect_.reset(source);
    sd_event_source_set_enabled(source, SD_EVENT_OFF);
  }
}

void SystemBusHelper::setDisableSleep(bool on, Reply reply) {
  call(protocol::kSetDisableSleep, on ? 1 : 0, std::move(reply));
}

void SystemBusHelper::heartbeat() { call(protocol::kHeartbeat, kNoArgument, nullptr); }

void SystemBusHelper::currentDisableSleep(Reply reply) {
  call(protocol::kCurrentDisableSleep, kNoArgument, std::move(reply));
}

void SystemBusHelper::releaseBeforeExit(std::chrono::milliseconds limit) {
  if (!bus_ || sd_bus_is_open(bus_.get()) <= 0) return;
  sd::Error error;
  sd_bus_message* raw = nullptr;
  sd_bus_message* call = nullptr;
  if (sd_bus_message_new_method_call(bus_.get(), &call, protocol::kBusName, protocol::kObjectPath,
                                     protocol::kInterface, protocol::kSetDisableSleep) < 0) {
    return;
  }
  const sd::Message request(call);
  if (sd_bus_message_append(request.get(), "b", 0) < 0) return;
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(limit).count();
  sd_bus_call(bus_.get(), request.get(), static_cast<std::uint64_t>(micros), error.get(), &raw);
  sd_bus_message_unref(raw);
}

sd_bus* SystemBusHelper::connection() {
  if (bus_ && sd_bus_is_open(bus_.get()) > 0) return bus_.get();
  bus_.reset();
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return nullptr;
  bus_.reset(bus);
  const std::string owner = nameOwnerRule(protocol::kBusName);
  // Matches go to the bus without waiting for it: connecting must not block the loop.
  if (sd_bus_add_match_async(bus, nullptr, owner.c_str(), &onOwnerChanged, &onWatching, this) < 0 ||
      sd_bus_add_match_async(bus, nullptr,
                             "type='signal',path='/org/freedesktop/DBus/Local',"
                             "interface='org.freedesktop.DBus.Local',member='Disconnected'",
                             &onDisconnected, nullptr, this) < 0 ||
      sd_bus_attach_event(bus, event_, SD_EVENT_PRIORITY_NORMAL) < 0) {
    bus_.reset();
    return nullptr;
  }
  return bus;
}

void SystemBusHelper::call(const char* method, int argument, Reply reply) {
  sd_bus* bus = connection();
  sd_bus_message* raw = nullptr;
  if (bus == nullptr ||
      sd_bus_message_new_method_call(bus, &raw, protocol::kBusName, protocol::kObjectPath,
                                     protocol::kInterface, method) < 0) {
    answerLater(std::move(reply));
    return;
  }
  const sd::Message request(raw);
  if (argument != kNoArgument && sd_bus_message_append(request.get(), "b", argument) < 0) {
    answerLater(std::move(reply));
    return;
  }
  if (!reply) {
    // The helper then sends no reply at all, and nothing wakes us for it.
    sd_bus_message_set_expect_reply(request.get(), 0);
    sd_bus_send(bus, request.get(), nullptr);
    return;
  }
  const OnceReply once(std::move(reply));
  // The bus keeps the call until the reply or the time limit. A call dropped unanswered (its
  // connection was replaced) still gets its answer, or the link would wait for it for ever.
  if (sd::callAsync(
          bus, nullptr, request.get(),
          [once](sd_bus_message* m) { once(answerOf(m), BootClock::now()); },
          HelperConnection::kCallLimit, [this, once] { answerLater(once); }) < 0) {
    answerLater(once);
  }
}

void SystemBusHelper::answerLater(Reply reply) {
  if (!reply) return;
  unsent_.push_back(std::move(reply));
  if (deferred_) sd_event_source_set_enabled(deferred_.get(), SD_EVENT_ONESHOT);
}

int SystemBusHelper::onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* self = static_cast<SystemBusHelper*>(userdata);
  const char* previous = nullptr;
  const char* next = nullptr;
  if (!readNameOwners(message, &previous, &next)) return 0;
  if (previous[0] != '\0') self->lost_();
  if (next[0] != '\0') self->back_();
  return 0;
}

// The helper may have come back while nobody watched (a new connection after the bus restarted):
// once the watch is in place, asking finds out.
int SystemBusHelper::onWatching(sd_bus_message* message, void* userdata, sd_bus_error*) {
  if (!sd_bus_message_is_method_error(message, nullptr))
    static_cast<SystemBusHelper*>(userdata)->back_();
  return 0;
}

int SystemBusHelper::onDisconnected(sd_bus_message* message, void* userdata, sd_bus_error*) {
  if (!sd::sentBy(message, sd::kThisLibrary)) return 0;
  auto* self = static_cast<SystemBusHelper*>(userdata);
  self->reconnectAfter_ = kReconnectFirst;
  if (self->reconnect_) sd::fireAfter(self->reconnect_.get(), self->reconnectAfter_);
  self->lost_();
  return 0;
}

int SystemBusHelper::onReconnect(sd_event_source* source, std::uint64_t, void* userdata) {
  auto* self = static_cast<SystemBusHelper*>(userdata);
  if (self->connection() == nullptr) {
    self->reconnectAfter_ = std::min(self->reconnectAfter_ * 2, kReconnectMost);
    sd::fireAfter(source, self->reconnectAfter_);
  }
  return 0;
}

int SystemBusHelper::onDeferred(sd_event_source*, void* userdata) {
  auto* self = static_cast<SystemBusHelper*>(userdata);
  std::deque<Reply> replies = std::exchange(self->unsent_, {});
  for (Reply& reply : replies) reply(HelperAnswer::unreachable, BootClock::now());
  return 0;
}

}  // namespace wexla::app
