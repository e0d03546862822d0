#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ChildProcess.hpp"
#include "SdBus.hpp"

namespace wexla::test {

// A dbus-daemon of the test's own, stopped with the object; the user's buses are never touched.
class PrivateBus {
 public:
  // A session bus.
  static PrivateBus session();
  // A session bus that stops reading from a connection while more than `maxIncomingBytes` of
  // what it sent wait to be taken by a reader; its configuration goes into `directory`.
  static PrivateBus slowSession(const std::filesystem::path& directory,
                                std::size_t maxIncomingBytes);
  // A bus configured like the system bus, denying by default, that lets the test's stand-ins
  // for polkit and logind own their names; its configuration goes into `directory`. With the
  // helper's policy it includes the project's policy file, and since that lets only root
  // provide the helper, any other user running the test gets leave to. `ownerOnly`: the helper
  // may own its name, and nobody may call it.
  enum class HelperPolicy { none, included, ownerOnly };
  static PrivateBus systemLike(const std::filesystem::path& directory,
                               HelperPolicy helper = HelperPolicy::none);

  const std::string& address() const { return address_; }
  // A new client connection to this bus; nothing when it cannot be made.
  sd::Bus connect() const;
  // The unique name of the peer that owns `name`; empty when none does.
  std::string owner(const std::string& name) const;
  // Whether some peer owns `name` within `limit`.
  bool waitForName(const std::string& name, std::chrono::milliseconds limit) const;
  // Ends the bus now, as a crashed or restarted one would.
  void stop() { daemon_.reset(); }
  // A new daemon in place of this one; a bus on a socket path of its own keeps its address.
  void restart();

 private:
  explicit PrivateBus(const std::vector<std::string>& configuration);

  std::vector<std::string> configuration_;
  std::unique_ptr<ChildProcess> daemon_;
  std::string address_;
};

// Sends `to` alone, from `bus`, as any peer can, the bus's signal that `name` left `owner`.
bool forgeNameLeft(sd_bus* bus, const std::string& to, const std::string& name,
                   const std::string& owner);

// Records the texts of the notifications of one name (the command texts, or the replies) that
// cross a session bus, as any program on that bus could see them.
class BusRecorder {
 public:
  BusRecorder(const PrivateBus& bus, const std::string& name);

  // What was recorded once there are `count` texts, or when `limit` has passed.
  const std::vector<std::string>& texts(std::size_t count, std::chrono::milliseconds limit);

 private:
  sd::Bus bus_;
  std::vector<std::string> texts_;
};

}  // namespace wexla::test
