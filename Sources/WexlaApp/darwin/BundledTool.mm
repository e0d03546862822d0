#import "BundledTool.h"

#import <Foundation/Foundation.h>

#include "MainRunLoop.h"

namespace wexla::app {

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
      NSData* data = [pipe.fileHandleForReading readDataToEndOfFileAndReturnError:nil];
      dispatch_semaphore_wait(exited, DISPATCH_TIME_FOREVER);
      if (data.length > 0) output.assign(static_cast<const char*>(data.bytes), data.length);
      if (task.terminationReason == NSTaskTerminationReasonExit) status = task.terminationStatus;
    }
    onMainRunLoop(^{
      finished(status, output);
    });
  });
}

}  // namespace wexla::app
