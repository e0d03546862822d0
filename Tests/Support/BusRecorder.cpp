#include "BusRecorder.hpp"

#include <stdexcept>

namespace wexla::test {

BusRecorder::BusRecorder(const PrivateBus& bus, const std::string& name) : bus_(bus.connect()) {
  const std::string rule =
      "type='signal',path='/dev/wexla/DistributedNotificationCenter',interface='dev.wexla."
      "DistributedNotificationCenter',member='Notification',arg0='" +
      name + "'";
  const auto record = [](sd_bus_message* message, void* texts, sd_bus_error*) {
    const char* notification = nullptr;
    const char* text = nullptr;
    if (sd_bus_message_read(message, "ss", &notification, &text) >= 0) {
      static_cast<std::vector<std::string>*>(texts)->emplace_back(text);
    }
    return 0;
  };
  // The match is in force at the bus when the constructor returns.
  if (!bus_ || sd_bus_add_match(bus_.get(), nullptr, rule.c_str(), record, &texts_) < 0) {
    throw std::runtime_error("cannot watch the bus at " + bus.address());
  }
}

std::vector<std::string> BusRecorder::texts(std::size_t count, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (texts_.size() < count && std::chrono::steady_clock::now() < deadline) {
    if (sd_bus_process(bus_.get(), nullptr) > 0) continue;
    sd_bus_wait(bus_.get(), 10'000);
  }
  return texts_;
}

}  // namespace wexla::test
