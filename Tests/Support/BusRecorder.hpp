#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "PrivateBus.hpp"

namespace wexla::test {

// Records the texts of the notifications of one name (the command texts, or the replies) that
// cross a session bus, as any program on that bus could see them.
class BusRecorder {
 public:
  BusRecorder(const PrivateBus& bus, const std::string& name);

  // What was recorded once there are `count` texts, or when `limit` has passed.
  std::vector<std::string> texts(std::size_t count, std::chrono::milliseconds limit);

 private:
  sd::Bus bus_;
  std::vector<std::string> texts_;
};

}  // namespace wexla::test
