#pragma once

#include <memory>
#include <string>

#include "ChildProcess.hpp"

namespace wexla::test {

// A dbus-daemon of the test's own, stopped with the object; the user's session bus is never
// touched.
class PrivateSessionBus {
 public:
  PrivateSessionBus();
  const std::string& address() const { return address_; }

 private:
  std::unique_ptr<ChildProcess> daemon_;
  std::string address_;
};

}  // namespace wexla::test
