#include "PolkitAuthority.hpp"

#include <cstdint>

#include "AsyncCall.hpp"

namespace wexla::kit {

namespace {

PolkitAuthority::Answer answerOf(sd_bus_message* reply) {
  int authorized = 0;
  int challenge = 0;
  if (sd_bus_message_is_method_error(reply, nullptr) != 0 ||
      sd_bus_message_has_signature(reply, "(bba{ss})") <= 0 ||
      sd_bus_message_enter_container(reply, SD_BUS_TYPE_STRUCT, "bba{ss}") < 0 ||
      sd_bus_message_read(reply, "bb", &authorized, &challenge) < 0) {
    return PolkitAuthority::Answer::unanswered;
  }
  return authorized != 0 ? PolkitAuthority::Answer::authorized : PolkitAuthority::Answer::denied;
}

}  // namespace

sd::Slot PolkitAuthority::ask(sd_bus* bus, const std::string& uniqueName, Verdict verdict) const {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(
          bus, &raw, "org.freedesktop.PolicyKit1", "/org/freedesktop/PolicyKit1/Authority",
          "org.freedesktop.PolicyKit1.Authority", "CheckAuthorization") < 0) {
    return nullptr;
  }
  const sd::Message call(raw);
  // subject ("system-bus-name", {"name": <sender>}), the action, no details, no interaction,
  // no cancellation id.
  if (sd_bus_message_append(call.get(), "(sa{sv})s", "system-bus-name", 1, "name", "s",
                            uniqueName.c_str(), kActionID) < 0 ||
      sd_bus_message_append(call.get(), "a{ss}us", 0, std::uint32_t{0}, "") < 0) {
    return nullptr;
  }

  // Dropping the slot cancels the check without a verdict.
  sd::Slot slot;
  if (sd::callAsync(
          bus, &slot, call.get(),
          [verdict = std::move(verdict)](sd_bus_message* reply) { verdict(answerOf(reply)); },
          limit_) < 0) {
    return nullptr;
  }
  return slot;
}

}  // namespace wexla::kit
