#include "DesktopNotifications.hpp"

#include <sys/syslog.h>

#include <cstring>
#include <memory>

#include "AppLog.hpp"

namespace wexla::app {

namespace {

// What the reply needs: where to keep the id, and the notice in case it must go to the log.
struct Sent {
  std::uint32_t* keep;  // null for a notice that stands alone
  std::string text;
};

}  // namespace

void DesktopNotifications::show(const std::string& title, const std::string& body,
                                const std::string& icon, bool aboutTheLink) {
  auto sent =
      std::make_unique<Sent>(Sent{aboutTheLink ? &linkNotice_ : nullptr, title + ": " + body});
  sd_bus_slot* slot = nullptr;
  // The server's default time on screen (-1); no actions, no hints.
  const int r = sd_bus_call_method_async(
      bus_, &slot, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
      "org.freedesktop.Notifications", "Notify", &onShown, sent.get(), "susssasa{sv}i", "Wexla",
      aboutTheLink ? linkNotice_ : 0u, icon.c_str(), title.c_str(), body.c_str(), 0, 0, -1);
  if (r < 0) {
    log(LOG_WARNING,
        "cannot send a notice (" + std::string(std::strerror(-r)) + "): " + sent->text);
    return;
  }
  // The bus keeps the call until its reply or its time limit, and then frees what it carries.
  sd_bus_slot_set_destroy_callback(slot, [](void* data) { delete static_cast<Sent*>(data); });
  sent.release();
  sd_bus_slot_set_floating(slot, 1);
  sd_bus_slot_unref(slot);
}

int DesktopNotifications::onShown(sd_bus_message* m, void* userdata, sd_bus_error*) {
  const auto* sent = static_cast<const Sent*>(userdata);
  std::uint32_t id = 0;
  if (const sd_bus_error* error = sd_bus_message_get_error(m)) {
    log(LOG_WARNING, std::string("no notification server shows notices (") +
                         (error->message != nullptr ? error->message : error->name) +
                         "): " + sent->text);
  } else if (sent->keep != nullptr && sd_bus_message_read(m, "u", &id) >= 0) {
    *sent->keep = id;
  }
  return 0;
}

}  // namespace wexla::app
