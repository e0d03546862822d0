#include "CommandChannel.hpp"

#include <malloc.h>
#include <sys/syslog.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "AppLog.hpp"
#include "ApplicationChannel.hpp"
#include "BusSender.hpp"
#include "StatusText.hpp"

namespace wexla::app {

namespace {

// A flood leaves the allocator holding pages it no longer needs; they are handed back once
// this many texts came in and the channel has been quiet for a second.
constexpr std::uint64_t kFloodTexts = 1024;
constexpr std::chrono::seconds kQuiet{1};

int fail(const std::string& what, int error) {
  std::fprintf(stderr, "wexla: %s: %s\n", what.c_str(), std::strerror(error));
  return 1;
}

}  // namespace

CommandChannel::CommandChannel(sd_event* event, Handler handle, std::function<void()> gone)
    : event_(event), handle_(std::move(handle)), gone_(std::move(gone)) {}

int CommandChannel::open() {
  sd_bus* bus = nullptr;
  if (const int r = sd_bus_open_user(&bus); r < 0) {
    return fail("cannot reach the session bus (is DBUS_SESSION_BUS_ADDRESS set?)", -r);
  }
  bus_.reset(bus);
  const std::string commands = std::string("type='signal',path='") + channel::kCenterPath +
                               "',interface='" + channel::kCenterInterface + "',member='" +
                               channel::kCenterSignal + "',arg0='" + channel::kCommandName + "'";
  if (const int r = sd_bus_add_match(bus, nullptr, commands.c_str(), &onCommand, this); r < 0) {
    return fail("cannot receive commands", -r);
  }
  if (const int r =
          sd_bus_match_signal(bus, nullptr, nullptr, "/org/freedesktop/DBus/Local",
                              "org.freedesktop.DBus.Local", "Disconnected", &onGone, this);
      r < 0) {
    return fail("cannot watch the session bus", -r);
  }
  if (const int r = sd_bus_attach_event(bus, event_, SD_EVENT_PRIORITY_NORMAL); r < 0) {
    return fail("cannot attach the session bus", -r);
  }
  sd_event_source* drained = nullptr;
  sd_event_source* quiet = nullptr;
  if (sd_event_add_post(event_, &drained, &onDrained, this) < 0 ||
      sd_event_add_time(event_, &quiet, CLOCK_MONOTONIC, 0, 0, &onQuiet, this) < 0) {
    return fail("cannot watch the replies", ENOMEM);
  }
  drained_.reset(drained);
  quiet_.reset(quiet);
  sd_event_source_set_enabled(drained, SD_EVENT_OFF);
  sd_event_source_set_enabled(quiet, SD_EVENT_OFF);
  // The name last: once others see it, commands already reach us.
  if (const int r = sd_bus_request_name(bus, channel::kApplicationBusName, 0); r < 0) {
    if (r == -EEXIST) {
      std::fputs("Wexla is already running\n", stderr);
      return 1;
    }
    return fail(std::string("cannot own the name ") + channel::kApplicationBusName, -r);
  }
  return 0;
}

void CommandChannel::reply(std::string text) {
  if (text.size() > kMaxReplyBytes) text = cutText(text, kMaxReplyBytes);
  if (std::find(waiting_.begin(), waiting_.end(), text) == waiting_.end()) {
    waiting_.push_back(std::move(text));
    if (waiting_.size() > kRepliesWaiting) waiting_.pop_front();
  }
  flush();
}

void CommandChannel::flush() {
  std::uint64_t onTheBus = 0;
  while (!waiting_.empty() && sd_bus_get_n_queued_write(bus_.get(), &onTheBus) >= 0 &&
         onTheBus < kRepliesOnTheBus) {
    const int r = sd_bus_emit_signal(bus_.get(), channel::kCenterPath, channel::kCenterInterface,
                                     channel::kCenterSignal, "ss", channel::kStatusName,
                                     waiting_.front().c_str());
    // A reply that cannot go out is lost to its caller, who says so; the session goes on.
    if (r < 0 && !toldOfLostReply_) {
      toldOfLostReply_ = true;
      log(LOG_WARNING, std::string("a reply could not be sent (") + std::strerror(-r) + ")");
    }
    waiting_.pop_front();
  }
  sd_event_source_set_enabled(drained_.get(), waiting_.empty() ? SD_EVENT_OFF : SD_EVENT_ON);
}

int CommandChannel::onCommand(sd_bus_message* message, void* userdata, sd_bus_error*) {
  auto* self = static_cast<CommandChannel*>(userdata);
  const char* name = nullptr;
  const char* text = nullptr;
  if (sd_bus_message_has_signature(message, "ss") <= 0 ||
      sd_bus_message_read(message, "ss", &name, &text) < 0 ||
      std::strcmp(name, channel::kCommandName) != 0) {
    return 0;
  }
  if (std::optional<std::string> reply = self->handle_(text)) self->reply(std::move(*reply));
  if (++self->textsSinceQuiet_ >= kFloodTexts) {
    sd::fireAfter(self->quiet_.get(), kQuiet);
  }
  return 0;
}

int CommandChannel::onGone(sd_bus_message* message, void* userdata, sd_bus_error*) {
  // Only sd-bus itself tells that the bus went away.
  if (sd::sentBy(message, sd::kThisLibrary)) static_cast<CommandChannel*>(userdata)->gone_();
  return 0;
}

int CommandChannel::onDrained(sd_event_source*, void* userdata) {
  static_cast<CommandChannel*>(userdata)->flush();
  return 0;
}

int CommandChannel::onQuiet(sd_event_source*, std::uint64_t, void* userdata) {
  static_cast<CommandChannel*>(userdata)->textsSinceQuiet_ = 0;
  ::malloc_trim(0);
  return 0;
}

}  // namespace wexla::app
