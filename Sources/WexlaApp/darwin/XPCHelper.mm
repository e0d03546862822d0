#import "XPCHelper.h"

#include <mach/mach.h>
#include <servers/bootstrap.h>

#include <chrono>
#include <utility>

#import "HelperProtocol.h"

namespace wexla::app {

namespace {

// The helper's kMachService; a literal, so that it is never nil.
NSString* const kMachService = @"dev.wexla.helper";
// After an interruption, how soon the first look whether the helper answers again comes, and the
// longest wait between two looks; past that, the link's own retries go on.
constexpr std::int64_t kFirstLookSeconds = 1;
constexpr std::int64_t kLastLookSeconds = 16;

constexpr std::int64_t kCallLimitNanos =
    std::chrono::nanoseconds(HelperConnection::kCallLimit).count();

// An interruption is a helper that went away (crashed, restarted), never a refusal: the
// listener turns a peer away by invalidating its connection, or from macOS 13 by its code
// signing requirement.
bool connectionRejected(NSError* error) {
  if (![error.domain isEqualToString:NSCocoaErrorDomain]) return false;
  if (@available(macOS 13.0, *)) {
    if (error.code == NSXPCConnectionCodeSigningRequirementFailure) return true;
  }
  return error.code == NSXPCConnectionInvalid;
}

}  // namespace

bool helperServiceOffered() {
  mach_port_t port = MACH_PORT_NULL;
  if (bootstrap_look_up(bootstrap_port, kMachService.UTF8String, &port) != KERN_SUCCESS) {
    return false;
  }
  mach_port_deallocate(mach_task_self(), port);
  return true;
}

XPCHelper::XPCHelper(std::function<void()> lost, std::function<void()> back)
    : lost_(std::move(lost)), back_(std::move(back)) {}

void XPCHelper::setDisableSleep(bool on, Reply reply) {
  const OnceReply pending(std::move(reply));
  [proxyAnswering(pending) setDisableSleep:(on ? YES : NO)
                                 withReply:^(BOOL ok) {
                                   dispatch_async(dispatch_get_main_queue(), ^{
                                     answer(pending, ok ? HelperAnswer::yes : HelperAnswer::no);
                                   });
                                 }];
}

void XPCHelper::heartbeat() {
  // Nothing waits for its answer: a helper that went away shows through `lost` and the next check.
  id<HelperProtocol> proxy = [connection() remoteObjectProxyWithErrorHandler:^(NSError*){
  }];
  [proxy heartbeatWithReply:^(BOOL){
  }];
}

void XPCHelper::currentDisableSleep(Reply reply) {
  const OnceReply pending(std::move(reply));
  [proxyAnswering(pending) currentDisableSleepWithReply:^(BOOL on) {
    dispatch_async(dispatch_get_main_queue(), ^{
      answer(pending, on ? HelperAnswer::yes : HelperAnswer::no);
    });
  }];
}

void XPCHelper::releaseBeforeExit(std::chrono::milliseconds limit) {
  // Replies arrive on the connection's own queue, so the main thread may wait for them here.
  dispatch_semaphore_t done = dispatch_semaphore_create(0);
  id<HelperProtocol> proxy = [connection() remoteObjectProxyWithErrorHandler:^(NSError*) {
    dispatch_semaphore_signal(done);
  }];
  [proxy setDisableSleep:NO
               withReply:^(BOOL) {
                 dispatch_semaphore_signal(done);
               }];
  const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count();
  dispatch_semaphore_wait(done, dispatch_time(DISPATCH_TIME_NOW, nanos));
}

NSXPCConnection* XPCHelper::connection() {
  if (connection_ != nil) return connection_;
  NSXPCConnection* connection =
      [[NSXPCConnection alloc] initWithMachServiceName:kMachService
                                               options:NSXPCConnectionPrivileged];
  connection.remoteObjectInterface =
      [NSXPCInterface interfaceWithProtocol:@protocol(HelperProtocol)];
  // Weakly: the connection keeps its handlers, which must not keep it.
  __weak NSXPCConnection* weakConnection = connection;
  connection.interruptionHandler = ^{
    dispatch_async(dispatch_get_main_queue(), ^{
      connectionEnded(weakConnection, false);
    });
  };
  connection.invalidationHandler = ^{
    dispatch_async(dispatch_get_main_queue(), ^{
      connectionEnded(weakConnection, true);
    });
  };
  [connection resume];
  connection_ = connection;
  answered_ = false;
  return connection;
}

id XPCHelper::proxyAnswering(OnceReply pending) {
  NSXPCConnection* connection = this->connection();
  const bool fresh = !answered_;
  // XPC itself never gives up on a helper that takes a call and does not answer.
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, kCallLimitNanos), dispatch_get_main_queue(), ^{
    answer(pending, HelperAnswer::unreachable);
  });
  return [connection remoteObjectProxyWithErrorHandler:^(NSError* error) {
    // Invalidated before the helper ever answered, while its service is offered: the helper's
    // signature check turned this application away.
    const bool refused = fresh && connectionRejected(error) && helperServiceOffered();
    dispatch_async(dispatch_get_main_queue(), ^{
      answer(pending, refused ? HelperAnswer::refused : HelperAnswer::unreachable);
    });
  }];
}

void XPCHelper::answer(const OnceReply& pending, HelperAnswer result) {
  if (pending.answered()) return;
  if (result == HelperAnswer::yes || result == HelperAnswer::no) answered_ = true;
  pending(result, BootClock::now());
}

// A helper that never answered is not lost: the failed call already says why (not there, or
// refusing). Reporting it lost as well would turn a refusal into "not running".
void XPCHelper::connectionEnded(NSXPCConnection* connection, bool invalidated) {
  if (connection == nil || connection != connection_) return;
  const bool wasAnswering = answered_;
  if (invalidated) {
    connection_ = nil;
    answered_ = false;
  }
  if (!wasAnswering) return;
  lost_();
  // An interrupted connection stays usable: the next message starts the helper again.
  if (!invalidated) lookForHelper(connection, kFirstLookSeconds);
}

// Asks the helper for its status after `seconds`, on the connection it was interrupted on; its
// answer is the helper back, and the link asks at once instead of at its next retry.
void XPCHelper::lookForHelper(NSXPCConnection* connection, std::int64_t seconds) {
  __weak NSXPCConnection* weakConnection = connection;
  dispatch_after(
      dispatch_time(DISPATCH_TIME_NOW, seconds * static_cast<std::int64_t>(NSEC_PER_SEC)),
      dispatch_get_main_queue(), ^{
        NSXPCConnection* current = weakConnection;
        if (current == nil || current != connection_ || answered_) return;
        id<HelperProtocol> proxy = [current remoteObjectProxyWithErrorHandler:^(NSError*) {
          dispatch_async(dispatch_get_main_queue(), ^{
            if (seconds < kLastLookSeconds) lookForHelper(weakConnection, seconds * 2);
          });
        }];
        [proxy currentDisableSleepWithReply:^(BOOL) {
          dispatch_async(dispatch_get_main_queue(), ^{
            if (weakConnection != connection_) return;
            answered_ = true;
            back_();
          });
        }];
      });
}

}  // namespace wexla::app
