#import "BundledHelper.h"

#import <Foundation/Foundation.h>
#import <ServiceManagement/ServiceManagement.h>

#include "MainRunLoop.h"
#import "XPCHelper.h"

namespace wexla::app {

namespace {

// Its name in Contents/Library/LaunchDaemons: the helper's label, as launchd names its files.
NSString* const kPlistName = @"dev.wexla.helper.plist";

std::string reason(NSError* error) {
  const char* text = error.localizedDescription.UTF8String;
  return text != nullptr ? text : "macOS gave no reason";
}

}  // namespace

HelperInstall bundledHelperState() {
  if (@available(macOS 13.0, *)) {
    const SMAppServiceStatus status = [SMAppService daemonServiceWithPlistName:kPlistName].status;
    if (status == SMAppServiceStatusEnabled) return HelperInstall::enabled;
    if (status == SMAppServiceStatusRequiresApproval) return HelperInstall::awaitingApproval;
    // Unknown to the system yet offered by launchd: a plist in /Library/LaunchDaemons.
    if (helperServiceOffered()) return HelperInstall::byHand;
    return status == SMAppServiceStatusNotRegistered ? HelperInstall::notRegistered
                                                     : HelperInstall::notFound;
  }
  return HelperInstall::unavailable;
}

std::optional<std::string> installBundledHelper() {
  if (@available(macOS 13.0, *)) {
    SMAppService* service = [SMAppService daemonServiceWithPlistName:kPlistName];
    NSError* error = nil;
    const BOOL registered = [service registerAndReturnError:&error];
    // A daemon registers and then waits for approval; the call may report that wait as a
    // failure, so the status decides.
    const SMAppServiceStatus status = service.status;
    if (status == SMAppServiceStatusRequiresApproval) {
      [SMAppService openSystemSettingsLoginItems];
      return std::nullopt;
    }
    if (registered || status == SMAppServiceStatusEnabled) return std::nullopt;
    return reason(error);
  }
  return std::nullopt;
}

void uninstallBundledHelper(std::function<void(std::optional<std::string> problem)> done) {
  if (@available(macOS 13.0, *)) {
    [[SMAppService daemonServiceWithPlistName:kPlistName]
        unregisterWithCompletionHandler:^(NSError* error) {
          std::optional<std::string> problem;
          if (error != nil) problem = reason(error);
          onMainRunLoop(^{
            done(problem);
          });
        }];
  }
}

void openSystemSettingsLoginItems() {
  if (@available(macOS 13.0, *)) {
    [SMAppService openSystemSettingsLoginItems];
  }
}

}  // namespace wexla::app
