#include "PrivateSessionBus.hpp"

#include <stdexcept>

namespace wexla::test {

PrivateSessionBus::PrivateSessionBus() {
  daemon_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                               "--print-address=1"},
      std::vector<std::string>{"PATH=/usr/bin:/bin"});
  const auto line = daemon_->readLine(std::chrono::seconds(10));
  if (!line || line->empty()) throw std::runtime_error("dbus-daemon printed no address");
  address_ = *line;
}

}  // namespace wexla::test
