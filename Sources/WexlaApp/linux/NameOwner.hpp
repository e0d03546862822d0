#pragma once
// Following a bus name from one owner to the next: the helper going away, a tray appearing.
#include <systemd/sd-bus.h>

#include <string>

#include "BusSender.hpp"

namespace wexla::app {

// The match rule for the bus's signal that `name` changed hands.
inline std::string nameOwnerRule(const std::string& name) {
  return "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
         "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
         name + "'";
}

// The owners before and after, from that signal ("" for none); false when it carries neither,
// or when anybody but the bus sent it.
inline bool readNameOwners(sd_bus_message* m, const char** previous, const char** next) {
  const char* name = nullptr;
  return sd::readNameOwnerChanged(m, &name, previous, next);
}

}  // namespace wexla::app
