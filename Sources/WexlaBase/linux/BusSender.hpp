#pragma once
// Anyone on a bus may send any connection a signal with any member and any arguments; the match
// rule's sender is no check, as the bus hands on what it was sent. Only the sender the bus itself
// writes into each message says who spoke, so every handler asks it first.
#include <systemd/sd-bus.h>

#include <string_view>

namespace wexla::sd {

// The bus itself: the only sender of NameOwnerChanged, NameLost and NameAcquired.
inline constexpr std::string_view kBusDriver = "org.freedesktop.DBus";
// sd-bus itself, for what it makes up on its side of the connection (Disconnected).
inline constexpr std::string_view kThisLibrary = "org.freedesktop.DBus.Local";

// Whether `message` came from `sender`: the bus, this library, or the unique name that owns a
// well-known name now (an empty name while nobody owns it, which nothing matches).
inline bool sentBy(sd_bus_message* message, std::string_view sender) {
  const char* actual = sd_bus_message_get_sender(message);
  return !sender.empty() && actual != nullptr && sender == actual;
}

// The name and its owners before and after ("" for none) from the bus's NameOwnerChanged; false
// when anybody else sent it, or it carries something else.
inline bool readNameOwnerChanged(sd_bus_message* message, const char** name, const char** previous,
                                 const char** next) {
  return sentBy(message, kBusDriver) &&
         sd_bus_message_read(message, "sss", name, previous, next) >= 0;
}

}  // namespace wexla::sd
