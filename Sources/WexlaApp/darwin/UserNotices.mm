#import "UserNotices.h"

#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

#include "AppLog.h"

// Shows the notices also while the application is in front (its menu open, say), where the
// system would otherwise keep them back.
@interface WexlaNoticePresenter : NSObject <UNUserNotificationCenterDelegate>
@end

@implementation WexlaNoticePresenter
- (void)userNotificationCenter:(UNUserNotificationCenter*)center
       willPresentNotification:(UNNotification*)notification
         withCompletionHandler:(void (^)(UNNotificationPresentationOptions))completionHandler {
  completionHandler(UNNotificationPresentationOptionBanner | UNNotificationPresentationOptionList);
}
@end

namespace wexla::app {

namespace {

// The same identifier for every notice: a new one takes the place of the last.
NSString* const kLinkNotice = @"dev.wexla.app.helper-link";

NSString* text(const std::string& utf8) {
  NSString* string = [NSString stringWithUTF8String:utf8.c_str()];
  return string != nil ? string : @"";
}

// `notifications` in the user defaults of dev.wexla.app: a Boolean, on when absent. Anything else
// gives the default and says why.
bool wanted() {
  id value = [[NSUserDefaults standardUserDefaults] objectForKey:@"notifications"];
  if (value == nil) return true;
  if ([value isKindOfClass:[NSNumber class]] &&
      CFGetTypeID((__bridge CFTypeRef)value) == CFBooleanGetTypeID()) {
    return [(NSNumber*)value boolValue];
  }
  logError("the user defaults of dev.wexla.app: notifications must be true or false; using the "
           "default");
  return true;
}

void deliver(const Notice& notice) {
  UNUserNotificationCenter* center = [UNUserNotificationCenter currentNotificationCenter];
  UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
  content.title = text(notice.title);
  content.body = text(notice.body);
  UNNotificationRequest* request = [UNNotificationRequest requestWithIdentifier:kLinkNotice
                                                                        content:content
                                                                        trigger:nil];
  const std::string body = notice.body;  // a copy for the block, which runs later
  // The first time the system asks the person; afterwards it answers with their choice at once.
  [center
      requestAuthorizationWithOptions:UNAuthorizationOptionAlert | UNAuthorizationOptionSound
                    completionHandler:^(BOOL granted, NSError* _Nullable) {
                      if (!granted) {
                        logNotice("notifications are not allowed for Wexla; not shown: " + body);
                        return;
                      }
                      [center addNotificationRequest:request
                               withCompletionHandler:^(NSError* _Nullable error) {
                                 if (error != nil) {
                                   logError(std::string("cannot show a notification: ") +
                                            error.localizedDescription.UTF8String);
                                 }
                               }];
                    }];
}

}  // namespace

void presentNotices() {
  static WexlaNoticePresenter* presenter = [[WexlaNoticePresenter alloc] init];
  // Held weakly; the static keeps it.
  [UNUserNotificationCenter currentNotificationCenter].delegate = presenter;
}

UserNotices::UserNotices() : notices_(wanted()) {}

void UserNotices::statusChanged(const Application& app) {
  if (const auto notice = notices_.after(app, Now::current())) deliver(*notice);
}

}  // namespace wexla::app
