#pragma once

// The core's notices through the user notification center.
#include "Application.hpp"
#include "Notices.hpp"

namespace wexla::app {

// Takes the notification center's calls for the application. The system wants this before the
// application finishes launching: from applicationWillFinishLaunching:.
void presentNotices();

// One notification for the helper link, which each new notice replaces. The person is asked for
// permission the first time there is something to tell. `defaults write dev.wexla.app
// notifications -bool false` turns them off.
class UserNotices {
 public:
  UserNotices();
  UserNotices(const UserNotices&) = delete;
  UserNotices& operator=(const UserNotices&) = delete;

  // After each change of the application's status.
  void statusChanged(const Application& app);

 private:
  Notices notices_;
};

}  // namespace wexla::app
