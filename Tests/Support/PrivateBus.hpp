#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.hpp"

namespace wexla::test {

// A dbus-daemon of the test's own, stopped with the object; the user's buses are never touched.
class PrivateBus {
 public:
  // A session bus.
  static PrivateBus session();
  // A bus configured like the system bus, denying by default, that lets the test's stand-ins
  // for polkit and logind own their names, and that includes `policies` (D-Bus policy files).
  // The user running the test may also own `namesForThisUser` (a service the real policy lets
  // only root provide), so the test runs as any user. Its configuration goes into `directory`.
  static PrivateBus systemLike(const std::filesystem::path& directory,
                               const std::vector<std::filesystem::path>& policies = {},
                               const std::vector<std::string>& namesForThisUser = {});

  const std::string& address() const { return address_; }
  // Whether some peer owns `name` within `limit`.
  bool waitForName(const std::string& name, std::chrono::milliseconds limit) const;
  // Ends the bus now, as a crashed or restarted one would.
  void stop() { daemon_.reset(); }

 private:
  explicit PrivateBus(const std::vector<std::string>& configuration);

  std::unique_ptr<ChildProcess> daemon_;
  std::string address_;
};

}  // namespace wexla::test
