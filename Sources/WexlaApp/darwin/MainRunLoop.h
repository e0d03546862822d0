#pragma once

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

namespace wexla::app {

// Runs `work` from the main run loop rather than the main queue: it may show an alert, and its
// modal loop inside a main-queue block would hold back every other main-queue job (the timer, the
// helper's answers) until the alert closes.
inline void onMainRunLoop(dispatch_block_t work) {
  CFRunLoopPerformBlock(CFRunLoopGetMain(), kCFRunLoopCommonModes, work);
  CFRunLoopWakeUp(CFRunLoopGetMain());
}

}  // namespace wexla::app
