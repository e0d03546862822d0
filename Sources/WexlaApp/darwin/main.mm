#import <AppKit/AppKit.h>

#include <cstdio>

#import "AppDelegate.h"
#include "AppLog.h"

namespace {

// NSApplication holds its delegate weakly; this holds it for the life of the process.
WexlaAppDelegate* gDelegate = nil;

bool anotherInstanceRuns() {
  const pid_t own = [[NSProcessInfo processInfo] processIdentifier];
  for (NSRunningApplication* other in
       [NSRunningApplication runningApplicationsWithBundleIdentifier:@"dev.wexla.app"]) {
    if (other.processIdentifier != own && !other.terminated) return true;
  }
  return false;
}

}  // namespace

int main() {
  @autoreleasepool {
    // LaunchServices keeps to one copy (LSMultipleInstancesProhibited); this covers a start by
    // path, as from a shell.
    if (anotherInstanceRuns()) {
      std::fputs("Wexla is already running\n", stderr);
      wexla::app::logNotice("Wexla is already running; this copy quits");
      return 1;
    }
    NSApplication* application = [NSApplication sharedApplication];
    // A menu-bar application: no Dock icon and no menu bar of its own.
    [application setActivationPolicy:NSApplicationActivationPolicyAccessory];
    gDelegate = [[WexlaAppDelegate alloc] init];
    application.delegate = gDelegate;
    [application run];
  }
  return 0;
}
