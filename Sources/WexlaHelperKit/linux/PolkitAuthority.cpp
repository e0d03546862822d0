#include "PolkitAuthority.hpp"

#include <cstdint>
#include <memory>

namespace wexla::kit {

namespace {

struct MessageReleaser {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageReleaser>;

}  // namespace

bool PolkitAuthority::isAuthorized(sd_bus* bus, const std::string& uniqueName) const {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(
          bus, &raw, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
          "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization") < 0) {
    return false;
  }
  const Message call(raw);
  // subject ("system-bus-name", {"name": <sender>}), the action, no details, no interaction,
  // no cancellation id.
  if (sd_bus_message_append(call.get(), "(sa{sv})s", "system-bus-name", 1, "name", "s",
                            uniqueName.c_str(), kActionID) < 0 ||
      sd_bus_message_append(call.get(), "a{ss}us", 0, std::uint32_t{0}, "") < 0) {
    return false;
  }

  sd_bus_error error{};
  sd_bus_message* answer = nullptr;
  const auto limit = std::chrono::duration_cast<std::chrono::microseconds>(limit_).count();
  const int r = sd_bus_call(bus, call.get(), static_cast<std::uint64_t>(limit), &error, &answer);
  sd_bus_error_free(&error);
  if (r < 0) return false;
  const Message reply(answer);

  if (sd_bus_message_has_signature(reply.get(), "(bba{ss})") <= 0) return false;
  int authorized = 0;
  int challenge = 0;
  if (sd_bus_message_enter_container(reply.get(), SD_BUS_TYPE_STRUCT, "bba{ss}") < 0 ||
      sd_bus_message_read(reply.get(), "bb", &authorized, &challenge) < 0) {
    return false;
  }
  return authorized != 0;
}

}  // namespace wexla::kit
