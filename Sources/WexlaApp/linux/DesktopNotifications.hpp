#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>

namespace wexla::app {

// Notices through the desktop's notification server (org.freedesktop.Notifications), sent
// without waiting for it. Without a server the notice goes to the log instead.
class DesktopNotifications {
 public:
  explicit DesktopNotifications(sd_bus* bus) : bus_(bus) {}
  DesktopNotifications(const DesktopNotifications&) = delete;
  DesktopNotifications& operator=(const DesktopNotifications&) = delete;

  // A notice about the helper link takes the place of the last one about it, so the person
  // sees only where the link stands now; other notices stand alone.
  void show(const std::string& title, const std::string& body, const std::string& icon,
            bool aboutTheLink);

 private:
  sd_bus* bus_;
  std::uint32_t linkNotice_ = 0;  // the server's id of the last notice about the link
};

}  // namespace wexla::app
