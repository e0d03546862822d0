#pragma once
// The application's end of the channel to wexlactl on the session bus: command texts come in as
// the center's signal, replies go out the same way, and the session name keeps it one a session.
#include <systemd/sd-event.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "SdBus.hpp"

namespace wexla::app {

class CommandChannel {
 public:
  // The reply to a text, or nothing for a text that is never answered.
  using Handler = std::function<std::optional<std::string>(std::string_view text)>;
  // Replies the bus has not taken yet, beyond which new ones wait with us instead.
  static constexpr std::size_t kRepliesOnTheBus = 16;
  // Replies waiting with us: every waiting wexlactl takes the next reply posted, so past this
  // the oldest is dropped, and a reply equal to one still waiting is not queued twice.
  static constexpr std::size_t kRepliesWaiting = 64;
  // No reply outgrows what a bus carries, whatever the holds: it is cut to this.
  static constexpr std::size_t kMaxReplyBytes = 64 * 1024;

  // `gone` runs when the session bus itself goes away: the session is ending.
  CommandChannel(sd_event* event, Handler handle, std::function<void()> gone);
  CommandChannel(const CommandChannel&) = delete;
  CommandChannel& operator=(const CommandChannel&) = delete;

  // 0 once texts are coming in, or the exit status after saying why on standard error.
  int open();

 private:
  void reply(std::string text);
  void flush();
  static int onCommand(sd_bus_message* message, void* userdata, sd_bus_error*);
  static int onGone(sd_bus_message*, void* userdata, sd_bus_error*);
  static int onDrained(sd_event_source*, void* userdata);
  static int onQuiet(sd_event_source*, std::uint64_t, void* userdata);

  sd_event* event_;
  Handler handle_;
  std::function<void()> gone_;
  std::deque<std::string> waiting_;
  sd::EventSource drained_;  // after each turn of the loop, while replies wait
  sd::EventSource quiet_;    // a second after a flood of texts: hands freed memory back
  std::uint64_t textsSinceQuiet_ = 0;
  bool toldOfLostReply_ = false;
  sd::Bus bus_;
};

}  // namespace wexla::app
