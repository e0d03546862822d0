#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MenuModel.hpp"
#include "SdBus.hpp"

namespace wexla::app {

// The tray icon's menu as com.canonical.dbusmenu: the hosts fetch the model's entries and send
// back what the person clicked. An entry's id is its place, depth first, counting from 1 (0 is
// the root), which stays put while only labels and ticks change.
class DBusMenu {
 public:
  // `chosen` carries out a clicked entry; `opening` brings the entries up to date just before a
  // host shows the menu.
  DBusMenu(std::function<void(const MenuItem&)> chosen, std::function<void()> opening);
  DBusMenu(const DBusMenu&) = delete;
  DBusMenu& operator=(const DBusMenu&) = delete;

  // Serves the menu at `path`; a negative errno when it cannot.
  int attach(sd_bus* bus, const char* path);
  // Shows these entries from now on; the hosts hear of it only when they differ from the last.
  void show(std::vector<MenuItem> items);

 private:
  struct Found {
    const MenuItem* item = nullptr;  // nothing for the root
    bool exists = false;
  };
  Found find(std::int32_t id) const;
  void choose(std::int32_t id, const char* event);

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
  std::vector<MenuItem> items_;
  std::uint32_t revision_ = 1;
  sd_bus* bus_ = nullptr;
  std::string path_;
  sd::Slot slot_;
};

}  // namespace wexla::app
