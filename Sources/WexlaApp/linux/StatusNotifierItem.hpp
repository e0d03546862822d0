#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <optional>
#include <string>
#include <vector>

#include "DBusMenu.hpp"
#include "MenuModel.hpp"
#include "SdBus.hpp"

namespace wexla::app {

// What the tray icon shows and does, asked as things stand now.
class TrayOwner {
 public:
  virtual ~TrayOwner() = default;
  virtual std::vector<MenuItem> menu() = 0;
  virtual Indicator indicator() = 0;
  virtual std::string statusLine() = 0;
  virtual void choose(const MenuItem& item) = 0;
};

// The icon's name for each state, in the hicolor theme.
const char* iconName(Indicator indicator);
// The folder holding our icons' hicolor theme: the installed one beside the program
// (<prefix>/share/icons) or the build tree's; empty when neither has them.
std::string iconThemePath();

// The application's tray icon on the session bus: a StatusNotifierItem with its dbusmenu menu,
// registered with the desktop's StatusNotifierWatcher now and whenever one appears later. With
// no watcher nothing shows and nothing fails.
class StatusNotifierItem {
 public:
  StatusNotifierItem(sd_bus* bus, sd_event* event, TrayOwner& owner, std::string themePath);
  StatusNotifierItem(const StatusNotifierItem&) = delete;
  StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

  // Serves the item and its menu and asks for the watcher; a negative errno when it cannot.
  int start();
  // The application's status changed. Cheap: the item is brought up to date once the loop has
  // nothing more urgent, so a flood of agent heartbeats costs one update, not one per text.
  void changed();

 private:
  void refresh();
  void registerItem();
  static int onProperty(sd_bus*, const char*, const char*, const char* property,
                        sd_bus_message* reply, void* userdata, sd_bus_error*);
  static int onIgnored(sd_bus_message* m, void*, sd_bus_error*);
  static int onRegistered(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onWatcherChanged(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onRetry(sd_event_source*, std::uint64_t, void* userdata);
  static int onRefresh(sd_event_source*, void* userdata);
  static const sd_bus_vtable kVTable[];

  sd_bus* bus_;
  sd_event* event_;
  TrayOwner& owner_;
  std::string themePath_;
  std::string name_;  // the connection's unique name, which the watcher is given
  std::optional<Indicator> indicator_;
  std::string status_;
  bool toldNoWatcher_ = false;
  int retries_ = 0;  // of the registration with the watcher that is there
  DBusMenu menu_;
  sd::EventSource refresh_;
  sd::EventSource retry_;
  sd::Slot item_;
  sd::Slot watcher_;
  sd::Slot pending_;
};

}  // namespace wexla::app
