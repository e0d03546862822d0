#pragma once

#include <systemd/sd-event.h>

#include <deque>
#include <functional>
#include <utility>

#include "HelperLink.hpp"
#include "SdBus.hpp"

namespace wexla::app {

// The helper on the system bus, called without ever blocking the loop: each call carries its
// own time limit and its reply comes back through the loop. The connection is made on first
// use, and made again soon after it dropped, so that the helper's name is watched again.
class SystemBusHelper final : public HelperConnection {
 public:
  // `lost` runs when the helper we talked to leaves the bus, or the connection drops; `back`
  // when the helper's name gets an owner, and once the watch is in place on a new connection.
  SystemBusHelper(sd_event* event, std::function<void()> lost, std::function<void()> back);
  SystemBusHelper(const SystemBusHelper&) = delete;
  SystemBusHelper& operator=(const SystemBusHelper&) = delete;

  void setDisableSleep(bool on, Reply reply) override;
  void heartbeat() override;
  void currentDisableSleep(Reply reply) override;
  void releaseBeforeExit(std::chrono::milliseconds limit) override;

 private:
  // A call that could not even be sent is answered from the loop too, never from inside it.
  void answerLater(Reply reply);
  sd_bus* connection();
  // Without a reply to wait for when `reply` is empty.
  void call(const char* method, int argument, Reply reply);
  static int onOwnerChanged(sd_bus_message* message, void* userdata, sd_bus_error*);
  static int onWatching(sd_bus_message* message, void* userdata, sd_bus_error*);
  static int onDisconnected(sd_bus_message*, void* userdata, sd_bus_error*);
  static int onDeferred(sd_event_source*, void* userdata);
  static int onReconnect(sd_event_source*, std::uint64_t, void* userdata);

  // The first try to connect again after the connection dropped, and the longest wait between two.
  static constexpr std::chrono::seconds kReconnectFirst{1};
  static constexpr std::chrono::seconds kReconnectMost{30};

  sd_event* event_;
  std::function<void()> lost_;
  std::function<void()> back_;
  sd::EventSource deferred_;
  sd::EventSource reconnect_;
  std::chrono::seconds reconnectAfter_ = kReconnectFirst;
  std::deque<Reply> unsent_;
  // Last, so it goes first: dropping it may still hand unanswered calls to the two above.
  sd::Bus bus_;
};

}  // namespace wexla::app
