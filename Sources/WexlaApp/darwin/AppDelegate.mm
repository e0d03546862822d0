// The application on macOS, thin: the distributed notification center brings the command texts
// and takes the replies, XPC reaches the helper, dispatch sources on the main queue are the timer
// and the process watch, and the status item shows the core's menu. Every decision is the core's.
#import "AppDelegate.h"

#import <ServiceManagement/ServiceManagement.h>

#include <csignal>
#include <memory>
#include <optional>
#include <string>

#include "AppLog.h"
#include "Application.hpp"
#include "ApplicationChannel.hpp"
#include "BundledHelper.h"
#include "BundledTool.h"
#include "DispatchSources.h"
#include "MenuChoices.hpp"
#include "MenuModel.hpp"
#import "StatusMenu.h"
#include "StatusText.hpp"
#import "UserNotices.h"
#import "XPCHelper.h"

namespace wexla::app {

namespace {

// busyMinutes in the user defaults of dev.wexla.app (`defaults write dev.wexla.app busyMinutes
// -int 30`). A whole number only: a string, a Boolean or a fraction is out of range, which gives
// the default and says why.
SettingsReading readSettings() {
  id value = [[NSUserDefaults standardUserDefaults] objectForKey:@"busyMinutes"];
  if (value == nil) return settingsFromBusyMinutes(std::nullopt);
  const bool whole = [value isKindOfClass:[NSNumber class]] &&
                     CFGetTypeID((__bridge CFTypeRef)value) != CFBooleanGetTypeID() &&
                     !CFNumberIsFloatType((__bridge CFNumberRef)value);
  return settingsFromBusyMinutes(whole ? [(NSNumber*)value longLongValue] : 0);
}

LoginItem loginItem() {
  if (@available(macOS 13.0, *)) {
    switch ([SMAppService mainAppService].status) {
      case SMAppServiceStatusEnabled:
        return LoginItem::on;
      case SMAppServiceStatusRequiresApproval:
        return LoginItem::awaitingApproval;
      default:
        return LoginItem::off;
    }
  }
  return LoginItem::unavailable;
}

void showMessage(NSString* message, bool problem) {
  NSAlert* alert = [[NSAlert alloc] init];
  alert.messageText = @"Wexla";
  alert.informativeText = message != nil ? message : @"";
  alert.alertStyle = problem ? NSAlertStyleWarning : NSAlertStyleInformational;
  // A menu-bar application is never in front by itself.
  if (@available(macOS 14.0, *)) {
    [NSApp activate];
  } else {
    [NSApp activateIgnoringOtherApps:YES];
  }
  [alert runModal];
}

// The application's parts, built in the order they need each other.
class MenuBarApp final : public ApplicationListener, public MenuOwner, public MenuPlatform {
 public:
  MenuBarApp()
      : helper_([this] { app_->helperLost(Now::current()); },
                [this] { app_->helperBack(Now::current()); }),
        processes_([this](std::int32_t pid) { app_->processEnded(pid, Now::current()); }),
        timer_([this] { app_->tick(Now::current()); }),
        login_(loginItem()),
        install_(bundledHelperState()) {
    const SettingsReading reading = readSettings();
    if (!reading.problem.empty()) {
      logError("the user defaults of dev.wexla.app: " + reading.problem + "; using the defaults");
    }
    menu_ = [[WexlaStatusMenu alloc] initWithOwner:this];
    app_.emplace(reading.settings, helper_, processes_, timer_, *this);
    choices_.emplace(*app_, *this, true);
    logNotice("application started; one agent heartbeat holds the machine for " +
              std::to_string(reading.settings.busyMinutes) + " minutes");
    refresh();
  }
  MenuBarApp(const MenuBarApp&) = delete;
  MenuBarApp& operator=(const MenuBarApp&) = delete;

  std::optional<std::string> handle(std::string_view text) {
    return app_->handle(text, Now::current());
  }
  void tick() { app_->tick(Now::current()); }
  // On the way out, however it came: the helper is released, bounded.
  void release() { app_->quit(); }

  void linkChanged(LinkState state) override {
    const std::string message(linkLogMessage(state));
    if (linkWarning(state)) {  // the states the status line warns of
      logError(message);
    } else {
      logNotice(message);
    }
  }
  void statusChanged() override {
    refresh();
    notices_.statusChanged(*app_);
  }

  // MenuOwner
  void chosen(const MenuItem& item) override { choices_->choose(item, Now::current()); }
  void opening() override {
    // The user may have changed either in System Settings.
    login_ = loginItem();
    install_ = bundledHelperState();
    refresh();
  }

  // MenuPlatform
  void runWexlactl(const std::string& word, Finished finished) override {
    runBundledTool(word, std::move(finished));
  }
  void tell(const std::string& message, bool problem) override {
    if (problem) {
      logError(message);
    } else {
      logNotice(message);
    }
    showMessage(@(message.c_str()), problem);
  }
  void quit() override { [NSApp terminate:nil]; }
  void installHelper() override {
    if (const auto problem = installBundledHelper()) showMessage(@(problem->c_str()), true);
    install_ = bundledHelperState();
    refresh();
  }
  void openLoginItems() override { openSystemSettingsLoginItems(); }
  void uninstallHelper() override {
    uninstallBundledHelper([this](std::optional<std::string> problem) {
      if (problem) showMessage(@(problem->c_str()), true);
      install_ = bundledHelperState();
      refresh();
    });
  }
  void toggleStartAtLogin() override {
    if (@available(macOS 13.0, *)) {
      SMAppService* service = [SMAppService mainAppService];
      NSError* error = nil;
      const BOOL done = login_ == LoginItem::on ? [service unregisterAndReturnError:&error]
                                                : [service registerAndReturnError:&error];
      login_ = loginItem();
      // Registered, it may wait for the person's approval, which the call can report as a
      // failure: the way on is Login Items.
      if (login_ == LoginItem::awaitingApproval) {
        openSystemSettingsLoginItems();
      } else if (!done) {
        showMessage(error.localizedDescription, true);
      }
      refresh();
    }
  }

 private:
  void refresh() {
    const Now now = Now::current();
    [menu_ showItems:menuItems(*app_, now, login_, install_) indicator:indicator(*app_, now)];
  }

  XPCHelper helper_;
  DispatchProcessWatch processes_;
  DispatchWakeTimer timer_;
  LoginItem login_;
  HelperInstall install_;
  WexlaStatusMenu* menu_ = nil;
  UserNotices notices_;
  std::optional<Application> app_;
  std::optional<MenuChoices> choices_;
};

}  // namespace

}  // namespace wexla::app

@implementation WexlaAppDelegate {
  std::unique_ptr<wexla::app::MenuBarApp> _app;
  NSMutableArray* _signalSources;
}

- (void)applicationWillFinishLaunching:(NSNotification*)notification {
  wexla::app::presentNotices();
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
  _app = std::make_unique<wexla::app::MenuBarApp>();
  // Delivered even while the application is not active: wexlactl waits only 2 seconds.
  [[NSDistributedNotificationCenter defaultCenter]
             addObserver:self
                selector:@selector(commandArrived:)
                    name:@(wexla::channel::kCommandName)
                  object:nil
      suspensionBehavior:NSNotificationSuspensionBehaviorDeliverImmediately];
  // The timer runs on a clock that stops asleep: whatever ran out meanwhile is settled on waking.
  [[[NSWorkspace sharedWorkspace] notificationCenter] addObserver:self
                                                         selector:@selector(didWake:)
                                                             name:NSWorkspaceDidWakeNotification
                                                           object:nil];
  // SIGTERM, SIGINT and SIGHUP quit like the menu does, so the helper is released first.
  _signalSources = [NSMutableArray array];
  for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
    std::signal(number, SIG_IGN);
    dispatch_source_t source = dispatch_source_create(
        DISPATCH_SOURCE_TYPE_SIGNAL, static_cast<uintptr_t>(number), 0, dispatch_get_main_queue());
    dispatch_source_set_event_handler(source, ^{
      [NSApp terminate:nil];
    });
    dispatch_resume(source);
    [_signalSources addObject:source];
  }
}

- (void)commandArrived:(NSNotification*)notification {
  // A command text is the notification's object; anything else carries no text to answer.
  if (![notification.object isKindOfClass:[NSString class]]) return;
  const char* text = [(NSString*)notification.object UTF8String];
  if (text == nullptr) return;
  const std::optional<std::string> reply = _app->handle(text);
  if (!reply) return;  // the heartbeat texts are never answered
  NSString* status = [[NSString alloc] initWithBytes:reply->data()
                                              length:reply->size()
                                            encoding:NSUTF8StringEncoding];
  NSString* name = @(wexla::channel::kStatusName);  // boxed: nil only for text that is not UTF-8
  if (status == nil || name == nil) return;
  [[NSDistributedNotificationCenter defaultCenter] postNotificationName:name
                                                                 object:status
                                                               userInfo:nil
                                                     deliverImmediately:YES];
}

- (void)didWake:(NSNotification*)notification {
  _app->tick();
}

// Quit from the menu, logging out (the system asks every application to quit), or a signal:
// the helper is told to let go, bounded to 1 second, before the process ends.
- (void)applicationWillTerminate:(NSNotification*)notification {
  if (_app) _app->release();
  wexla::app::endBundledToolRuns();
}

@end
