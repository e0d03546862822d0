#include "DispatchSources.h"

#import <Foundation/Foundation.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace wexla::app {

namespace {

// Lets the system batch our wake-ups a little; far below the helper's 15 seconds.
constexpr std::uint64_t kLeewayNanos = 10 * NSEC_PER_MSEC;

}  // namespace

DispatchWakeTimer::DispatchWakeTimer(std::function<void()> due)
    : due_(std::move(due)),
      source_(dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, dispatch_get_main_queue())) {
  dispatch_source_set_timer(source_, DISPATCH_TIME_FOREVER, DISPATCH_TIME_FOREVER, 0);
  dispatch_source_set_event_handler(source_, ^{
    due_();
  });
  dispatch_resume(source_);
}

DispatchWakeTimer::~DispatchWakeTimer() { dispatch_source_cancel(source_); }

// The core's instants are on the boot clock, which counts time asleep, while a dispatch_time
// deadline is on the uptime clock, which stops while the machine sleeps: a deadline set before a
// night asleep would come a night late. So each arming turns the instant into a delay from now,
// and the application ticks again when the machine wakes, which settles whatever ran out during
// the sleep and arms the timer afresh.
void DispatchWakeTimer::wakeAt(std::optional<Instant> when) {
  if (!when) {
    dispatch_source_set_timer(source_, DISPATCH_TIME_FOREVER, DISPATCH_TIME_FOREVER, 0);
    return;
  }
  const auto delay = std::max(*when - BootClock::now(), Instant::duration::zero());
  dispatch_source_set_timer(source_, dispatch_time(DISPATCH_TIME_NOW, delay.count()),
                            DISPATCH_TIME_FOREVER, kLeewayNanos);
}

DispatchProcessWatch::DispatchProcessWatch(std::function<void(std::int32_t)> ended)
    : ended_(std::move(ended)) {}

DispatchProcessWatch::~DispatchProcessWatch() {
  for (const auto& [pid, source] : sources_) dispatch_source_cancel(source);
}

bool DispatchProcessWatch::watch(std::int32_t pid) {
  // EPERM: it runs, under another user; its end can be watched all the same.
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  // A process that ends before the source is armed is reported as ended at once.
  dispatch_source_t source =
      dispatch_source_create(DISPATCH_SOURCE_TYPE_PROC, static_cast<uintptr_t>(pid),
                             DISPATCH_PROC_EXIT, dispatch_get_main_queue());
  if (source == nil) return false;
  dispatch_source_set_event_handler(source, ^{
    ended_(pid);
  });
  dispatch_resume(source);
  unwatch(pid);
  sources_.emplace(pid, source);
  return true;
}

void DispatchProcessWatch::unwatch(std::int32_t pid) {
  const auto found = sources_.find(pid);
  if (found == sources_.end()) return;
  dispatch_source_cancel(found->second);
  sources_.erase(found);
}

}  // namespace wexla::app
