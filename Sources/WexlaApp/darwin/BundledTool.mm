#import "BundledTool.h"

#import <Foundation/Foundation.h>

#include <signal.h>

#include "MainRunLoop.h"

namespace wexla::app {

namespace {

// The runs under way, from launch until their end is known.
NSMutableSet<NSTask*>* runningTasks() {
  static NSMutableSet<NSTask*>* tasks = [NSMutableSet set];
  return tasks;
}

}  // namespace

void runBundledTool(const std::string& word,
                    std::function<void(int status, const std::string& output)> finished) {
  NSString* tool = [[NSBundle mainBundle] pathForAuxiliaryExecutable:@"wexlactl"];
  NSString* argument = [NSString stringWithUTF8String:word.c_str()];
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_USER_INITIATED, 0), ^{
    int status = -1;
    std::string output;
    NSTask* task = [[NSTask alloc] init];
    NSPipe* pipe = [NSPipe pipe];
    // Not waitUntilExit: it turns the current run loop, which a dispatch worker does not have.
    dispatch_semaphore_t exited = dispatch_semaphore_create(0);
    if (tool != nil && argument != nil) {
      task.executableURL = [NSURL fileURLWithPath:tool];
      task.arguments = @[ argument ];
      task.standardInput = [NSFileHandle fileHandleWithNullDevice];
      // One pipe for both streams, read to its end before waiting: nothing can fill up unread.
      task.standardOutput = pipe;
      task.standardError = pipe;
      task.terminationHandler = ^(NSTask*) {
        dispatch_semaphore_signal(exited);
      };
    }
    if (tool != nil && argument != nil && [task launchAndReturnError:nil]) {
      @synchronized(runningTasks()) {
        [runningTasks() addObject:task];
      }
      NSData* data = [pipe.fileHandleForReading readDataToEndOfFileAndReturnError:nil];
      dispatch_semaphore_wait(exited, DISPATCH_TIME_FOREVER);
      @synchronized(runningTasks()) {
        [runningTasks() removeObject:task];
      }
      if (data.length > 0) output.assign(static_cast<const char*>(data.bytes), data.length);
      if (task.terminationReason == NSTaskTerminationReasonExit) status = task.terminationStatus;
    }
    onMainRunLoop(^{
      finished(status, output);
    });
  });
}

void endBundledToolRuns() {
  @synchronized(runningTasks()) {
    // SIGKILL, not terminate: a child may keep the signals the application ignores for its own
    // handling. Only a task still running: its number is its own until it is reaped.
    for (NSTask* task in runningTasks()) {
      if (task.running) ::kill(task.processIdentifier, SIGKILL);
    }
  }
}

}  // namespace wexla::app
