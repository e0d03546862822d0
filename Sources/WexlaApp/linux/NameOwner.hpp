#pragma once
// Following a bus name from one owner to the next: the helper going away, a tray appearing.
#include <systemd/sd-bus.h>

#include <string>

namespace wexla::app {

// The match rule for the bus's signal that `name` changed hands.
inline std::string nameOwnerRule(const std::string& name) {
  return "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
         "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
         name + "'";
}

// The owners before and after, from that signal ("" for none); false when it carries neither.
inline bool readNameOwners(sd_bus_message* m, const char** previous, const char** next) {
  const char* name = nullptr;
  return sd_bus_message_read(m, "sss", &name, previous, next) >= 0;
}

}  // namespace wexla::app
