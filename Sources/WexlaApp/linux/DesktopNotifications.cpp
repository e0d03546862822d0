#include "DesktopNotifications.hpp"

#include <sys/syslog.h>

#include <cstring>

#include "AppLog.hpp"
#include "AsyncCall.hpp"
#include "SdBus.hpp"

namespace wexla::app {

void DesktopNotifications::show(const std::string& title, const std::string& body,
                                const std::string& icon, bool aboutTheLink) {
  const std::string text = title + ": " + body;  // for the log, should no server show it
  sd_bus_message* raw = nullptr;
  int r = sd_bus_message_new_method_call(bus_, &raw, "org.freedesktop.Notifications",
                                         "/org/freedesktop/Notifications",
                                         "org.freedesktop.Notifications", "Notify");
  const sd::Message call(raw);
  // The server's default time on screen (-1); no actions, no hints.
  if (r >= 0) {
    r = sd_bus_message_append(raw, "susssasa{sv}i", "Wexla", aboutTheLink ? linkNotice_ : 0u,
                              icon.c_str(), title.c_str(), body.c_str(), 0, 0, -1);
  }
  std::uint32_t* keep = aboutTheLink ? &linkNotice_ : nullptr;
  if (r >= 0) {
    r = sd::callAsync(bus_, nullptr, raw, [keep, text](sd_bus_message* reply) {
      std::uint32_t id = 0;
      if (const sd_bus_error* error = sd_bus_message_get_error(reply)) {
        log(LOG_WARNING, std::string("no notification server shows notices (") +
                             (error->message != nullptr ? error->message : error->name) +
                             "): " + text);
      } else if (keep != nullptr && sd_bus_message_read(reply, "u", &id) >= 0) {
        *keep = id;
      }
    });
  }
  if (r < 0)
    log(LOG_WARNING, "cannot send a notice (" + std::string(std::strerror(-r)) + "): " + text);
}

}  // namespace wexla::app
