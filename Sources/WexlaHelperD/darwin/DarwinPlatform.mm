// The helper on macOS: launchd starts it for its Mach service, XPC brings the requests, the
// main dispatch queue serialises them with the watchdog timer, and os_log keeps the record.
// Thin: every decision is in the portable start-up and service.
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>
#include <os/log.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

#include "../Platform.hpp"
#import "HelperProtocol.h"
#include "PmsetSleepBackend.hpp"
#include "XPCPeerAuth.hpp"

namespace {

class OsLog final : public wexla::helper::Log {
 public:
  OsLog() : log_(os_log_create("dev.wexla.helper", "daemon")) {}

  void write(wexla::helper::LogLevel level, std::string_view message) override {
    const std::string text(message);
    // The texts hold nothing private; without %{public}s they would show as <private>.
    if (level == wexla::helper::LogLevel::info) {
      os_log_info(log_, "%{public}s", text.c_str());
    } else {
      os_log_error(log_, "%{public}s", text.c_str());
    }
  }

 private:
  os_log_t log_;
};

// The peer's audit token, read by key; a missing property must not crash the helper.
std::optional<wexla::kit::AuditToken> peerAuditToken(NSXPCConnection* connection) {
  id value = nil;
  @try {
    value = [connection valueForKey:@"auditToken"];
  } @catch (NSException*) {
    return std::nullopt;
  }
  wexla::kit::AuditToken token{};
  if ([value isKindOfClass:[NSData class]]) {
    NSData* data = value;
    if (data.length < sizeof token) return std::nullopt;
    std::memcpy(token.data(), data.bytes, sizeof token);
    return token;
  }
  if ([value isKindOfClass:[NSValue class]]) {
    [(NSValue*)value getValue:token.data() size:sizeof token];
    return token;
  }
  return std::nullopt;
}

}  // namespace

// One per connection: the connection is the caller, with a hold of its own.
@interface WexlaHelperService : NSObject <HelperProtocol>
- (instancetype)initWithService:(wexla::helper::HelperService*)service
                         caller:(const wexla::kit::CallerID&)caller;
@end

@implementation WexlaHelperService {
  wexla::helper::HelperService* _service;
  wexla::kit::CallerID _caller;
}

- (instancetype)initWithService:(wexla::helper::HelperService*)service
                         caller:(const wexla::kit::CallerID&)caller {
  if ((self = [super init])) {
    _service = service;
    _caller = caller;
  }
  return self;
}

// Set and heartbeat touch the controller, so they run on the main queue with the watchdog.
- (void)setDisableSleep:(BOOL)on withReply:(void (^)(BOOL ok))reply {
  wexla::helper::HelperService* service = _service;
  const wexla::kit::CallerID caller = _caller;
  dispatch_async(dispatch_get_main_queue(), ^{
    dispatch_assert_queue(dispatch_get_main_queue());
    reply(service->setDisableSleep(caller, on));
  });
}

- (void)heartbeatWithReply:(void (^)(BOOL ok))reply {
  wexla::helper::HelperService* service = _service;
  const wexla::kit::CallerID caller = _caller;
  dispatch_async(dispatch_get_main_queue(), ^{
    dispatch_assert_queue(dispatch_get_main_queue());
    reply(service->heartbeat(caller));
  });
}

// Whether this connection holds and the live setting is on: its hold is the controller's, so
// the question goes to the main queue too.
- (void)currentDisableSleepWithReply:(void (^)(BOOL on))reply {
  wexla::helper::HelperService* service = _service;
  const wexla::kit::CallerID caller = _caller;
  dispatch_async(dispatch_get_main_queue(), ^{
    reply(service->currentDisableSleep(caller));
  });
}

@end

@interface WexlaListenerDelegate : NSObject <NSXPCListenerDelegate>
- (instancetype)initWithDelegate:(wexla::helper::ListenerDelegate*)delegate;
@end

@implementation WexlaListenerDelegate {
  wexla::helper::ListenerDelegate* _delegate;
  std::uint64_t _connections;  // on the listener's queue only
}

- (instancetype)initWithDelegate:(wexla::helper::ListenerDelegate*)delegate {
  if ((self = [super init])) _delegate = delegate;
  return self;
}

- (BOOL)listener:(NSXPCListener*)listener shouldAcceptNewConnection:(NSXPCConnection*)connection {
  const bool accepted = _delegate->shouldAcceptNewConnection([&](const std::string& requirement) {
    // From macOS 13 the listener itself holds every connection to the requirement (set at
    // start); before, the peer's audit token is checked here.
    if (@available(macOS 13.0, *)) return true;
    const std::optional<wexla::kit::AuditToken> token = peerAuditToken(connection);
    return token && wexla::kit::XPCPeerAuth::isAuthorized(*token, requirement);
  });
  if (!accepted) return NO;
  wexla::helper::HelperService* service = &_delegate->service();
  const wexla::kit::CallerID caller = std::to_string(++_connections);
  connection.exportedInterface = [NSXPCInterface interfaceWithProtocol:@protocol(HelperProtocol)];
  connection.exportedObject = [[WexlaHelperService alloc] initWithService:service caller:caller];
  // The application quit or crashed: its hold goes with its connection. Both handlers may run;
  // ending a hold twice does nothing more. The block holds no reference to the connection.
  void (^gone)(void) = ^{
    dispatch_async(dispatch_get_main_queue(), ^{
      service->callerLeft(caller);
    });
  };
  connection.interruptionHandler = gone;
  connection.invalidationHandler = gone;
  [connection resume];
  return YES;
}

@end

namespace wexla::helper {

namespace {

class DarwinPlatform final : public Platform {
 public:
  std::unique_ptr<Log> makeLog() override { return std::make_unique<OsLog>(); }
  std::unique_ptr<kit::SleepBackend> makeSleepBackend() override {
    return std::make_unique<kit::PmsetSleepBackend>();
  }
  kit::DaemonPower::Snapshot powerSnapshot() override { return kit::DaemonPower::snapshot(); }
  kit::TimePoint now() override { return kit::Clock::now(); }

  void startTimer(std::chrono::seconds interval, std::function<void()> tick) override {
    tick_ = std::move(tick);
    const auto nanos = static_cast<uint64_t>(interval.count()) * NSEC_PER_SEC;
    timer_ = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, dispatch_get_main_queue());
    dispatch_source_set_timer(timer_, dispatch_time(DISPATCH_TIME_NOW, static_cast<int64_t>(nanos)),
                              nanos, 0);
    // The context must be in place before the handler can run.
    dispatch_set_context(timer_, this);
    dispatch_source_set_event_handler_f(timer_, &onTick);
    dispatch_resume(timer_);
  }

  void startListener(ListenerDelegate& delegate) override {
    // The listener holds its delegate weakly: both live as long as the process.
    delegate_ = [[WexlaListenerDelegate alloc] initWithDelegate:&delegate];
    NSString* name = [NSString stringWithUTF8String:std::string(kMachService).c_str()];
    NSString* requirement = [NSString stringWithUTF8String:delegate.requirement().c_str()];
    if (name == nil || requirement == nil) std::exit(EXIT_FAILURE);  // ASCII: never
    listener_ = [[NSXPCListener alloc] initWithMachServiceName:name];
    if (@available(macOS 13.0, *)) {
      // The system checks each peer's code signature against the requirement for every message,
      // not once at connection time where a process could exec another program after it.
      [listener_ setConnectionCodeSigningRequirement:requirement];
    }
    listener_.delegate = delegate_;
    [listener_ resume];
  }

  int runForever(std::function<void()> stopping) override {
    stopping_ = std::move(stopping);
    // launchd stops the helper with SIGTERM; SIGINT and SIGHUP stop it the same way. Their
    // default action would end the process before it let go, so they are ignored and come as
    // events on the main queue instead.
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
      signal(kStopSignals[i], SIG_IGN);
      terminate_[i] = dispatch_source_create(DISPATCH_SOURCE_TYPE_SIGNAL,
                                             static_cast<uintptr_t>(kStopSignals[i]), 0,
                                             dispatch_get_main_queue());
      dispatch_set_context(terminate_[i], this);
      dispatch_source_set_event_handler_f(terminate_[i], &onTerminate);
      dispatch_resume(terminate_[i]);
    }
    dispatch_main();
  }

 private:
  static void onTick(void* context) { static_cast<DarwinPlatform*>(context)->tick_(); }
  static void onTerminate(void* context) {
    static_cast<DarwinPlatform*>(context)->stopping_();
    std::exit(EXIT_SUCCESS);
  }

  static constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

  std::function<void()> tick_;
  std::function<void()> stopping_;
  dispatch_source_t timer_ = nil;
  dispatch_source_t terminate_[std::size(kStopSignals)] = {};
  WexlaListenerDelegate* delegate_ = nil;
  NSXPCListener* listener_ = nil;
};

}  // namespace

std::unique_ptr<Platform> makePlatform() { return std::make_unique<DarwinPlatform>(); }

}  // namespace wexla::helper
