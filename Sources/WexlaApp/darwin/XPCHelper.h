#pragma once

// The helper over XPC. Objective-C++ only: it holds the connection.
#import <Foundation/Foundation.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "HelperLink.hpp"

namespace wexla::app {

// Whether launchd offers the helper's Mach service, however the helper was installed.
bool helperServiceOffered();

// The helper's Mach service, called without ever blocking the main queue: each call carries its
// own time limit, and its answer comes back on the main queue. The connection is made on first
// use, and again after it was invalidated.
class XPCHelper final : public HelperConnection {
 public:
  // `lost` runs on the main queue when a helper that had answered goes away; `back` once it
  // answers again on the connection that was interrupted.
  XPCHelper(std::function<void()> lost, std::function<void()> back);
  XPCHelper(const XPCHelper&) = delete;
  XPCHelper& operator=(const XPCHelper&) = delete;

  void setDisableSleep(bool on, Reply reply) override;
  void heartbeat() override;
  void currentDisableSleep(Reply reply) override;
  void releaseBeforeExit(std::chrono::milliseconds limit) override;

 private:
  NSXPCConnection* connection();
  // The remote object; a failure of the call made through it answers `pending`. The first
  // answer wins: the reply, the failure or the time limit, whichever comes first.
  id proxyAnswering(OnceReply pending);
  void answer(const OnceReply& pending, HelperAnswer answer);
  void connectionEnded(NSXPCConnection* connection, bool invalidated);
  void lookForHelper(NSXPCConnection* connection, std::int64_t seconds);

  std::function<void()> lost_;
  std::function<void()> back_;
  NSXPCConnection* connection_ = nil;
  bool answered_ = false;  // the helper has answered on the current connection
};

}  // namespace wexla::app
