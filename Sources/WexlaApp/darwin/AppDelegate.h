#pragma once

#import <AppKit/AppKit.h>

// Builds the application when it has launched, and releases the helper when it quits: from its
// menu, at logout, or on SIGTERM or SIGINT.
@interface WexlaAppDelegate : NSObject <NSApplicationDelegate>
@end
