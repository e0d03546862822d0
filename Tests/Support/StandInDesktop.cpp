// Stands in for a desktop on a test's session bus: the tray's StatusNotifierWatcher and the
// notification server. It says "ready" once it owns both names, then a line for each item that
// registers and each notice, which it numbers from 1:
//   registered SERVICE
//   notify REPLACES_ID ICON | SUMMARY | BODY
// with a file:// icon as its file's name, and any other icon as given.
#include <systemd/sd-bus.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "StandInBus.hpp"

namespace {

int onRegister(sd_bus_message* m, void*, sd_bus_error*) {
  const char* service = nullptr;
  const int r = sd_bus_message_read(m, "s", &service);
  if (r < 0) return r;
  std::printf("registered %s\n", service);
  std::fflush(stdout);
  return sd_bus_reply_method_return(m, "");
}

int onNotify(sd_bus_message* m, void*, sd_bus_error*) {
  static std::uint32_t last = 0;
  const char *app, *icon, *summary, *body;
  std::uint32_t replaces = 0;
  const int r = sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body);
  if (r < 0) return r;
  const std::string uri = icon;
  const std::string shown =
      uri.starts_with("file://") ? std::filesystem::path(uri).filename().string() : uri;
  std::printf("notify %u %s | %s | %s\n", replaces, shown.c_str(), summary, body);
  std::fflush(stdout);
  return sd_bus_reply_method_return(m, "u", ++last);
}

const sd_bus_vtable kWatcher[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", onRegister, 0),
    SD_BUS_VTABLE_END,
};
const sd_bus_vtable kNotifications[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", onNotify, 0),
    SD_BUS_VTABLE_END,
};

}  // namespace

int main() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0 ||
      sd_bus_add_object_vtable(bus, nullptr, "/StatusNotifierWatcher",
                               "org.kde.StatusNotifierWatcher", kWatcher, nullptr) < 0 ||
      sd_bus_add_object_vtable(bus, nullptr, "/org/freedesktop/Notifications",
                               "org.freedesktop.Notifications", kNotifications, nullptr) < 0 ||
      sd_bus_request_name(bus, "org.kde.StatusNotifierWatcher", 0) < 0 ||
      sd_bus_request_name(bus, "org.freedesktop.Notifications", 0) < 0) {
    std::fputs("cannot stand in for the desktop on the session bus\n", stderr);
    return 1;
  }
  return wexla::test::serveForever(bus);
}
