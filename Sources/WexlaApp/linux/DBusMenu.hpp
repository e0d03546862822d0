#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "MenuLayout.hpp"
#include "SdBus.hpp"

namespace wexla::app {

// The tray icon's menu as com.canonical.dbusmenu: the hosts fetch the entries of the MenuLayout
// and send back what the person clicked.
class DBusMenu {
 public:
  // `chosen` carries out a clicked entry; `opening` brings the entries up to date just before a
  // host shows the menu.
  DBusMenu(std::function<void(const MenuItem&)> chosen, std::function<void()> opening);
  DBusMenu(const DBusMenu&) = delete;
  DBusMenu& operator=(const DBusMenu&) = delete;

  // Serves the menu at `path`; a negative errno when it cannot.
  int attach(sd_bus* bus, const char* path);
  // Shows these entries from now on; the hosts hear of it only when they differ from the last:
  // of the entries that changed, or of the whole layout when entries came or went.
  void show(std::vector<MenuItem> items);

 private:
  // Carries out the clicks among these events, each entry once.
  void choose(const std::vector<std::pair<std::int32_t, std::string>>& events);

  static int onGetLayout(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onGetGroupProperties(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onGetProperty(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onEvent(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onEventGroup(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onAboutToShow(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onAboutToShowGroup(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onProperty(sd_bus*, const char*, const char*, const char* property,
                        sd_bus_message* reply, void*, sd_bus_error*);
  static const sd_bus_vtable kVTable[];

  std::function<void(const MenuItem&)> chosen_;
  std::function<void()> opening_;
  MenuLayout layout_;
  sd_bus* bus_ = nullptr;
  std::string path_;
  sd::Slot slot_;
};

}  // namespace wexla::app
