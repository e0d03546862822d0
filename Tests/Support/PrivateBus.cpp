#include "PrivateBus.hpp"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace wexla::test {

PrivateBus::PrivateBus(const std::vector<std::string>& configuration)
    : configuration_(configuration) {
  restart();
}

void PrivateBus::restart() {
  daemon_.reset();
  std::vector<std::string> argv{"/usr/bin/dbus-daemon", "--nofork", "--nopidfile",
                                "--print-address=1"};
  argv.insert(argv.end(), configuration_.begin(), configuration_.end());
  // No data folders: the machine's own services (a notification daemon, say) are never started.
  daemon_ = std::make_unique<ChildProcess>(
      argv, std::vector<std::string>{"PATH=/usr/bin:/bin", "XDG_DATA_HOME=/nonexistent",
                                     "XDG_DATA_DIRS=/nonexistent"});
  const auto line = daemon_->readLine(std::chrono::seconds(10));
  if (!line || line->empty()) throw std::runtime_error("dbus-daemon printed no address");
  // Without the bus's guid, as a system gives it: a client may then reach a restarted bus.
  address_ = line->substr(0, line->find(",guid="));
}

sd::Bus PrivateBus::connect() const {
  sd_bus* raw = nullptr;
  if (sd_bus_new(&raw) < 0) return nullptr;
  sd::Bus bus(raw);
  if (sd_bus_set_address(raw, address_.c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0 ||
      sd_bus_start(raw) < 0) {
    return nullptr;
  }
  return bus;
}

std::string PrivateBus::owner(const std::string& name) const {
  const sd::Bus bus = connect();
  sd_bus_message* reply = nullptr;
  const char* owner = "";
  if (bus && sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus", "GetNameOwner", nullptr, &reply, "s",
                                name.c_str()) >= 0) {
    sd_bus_message_read(reply, "s", &owner);
  }
  const sd::Message answer(reply);
  return owner;
}

bool PrivateBus::waitForName(const std::string& name, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (owner(name).empty()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

PrivateBus PrivateBus::session() { return PrivateBus({"--session"}); }

PrivateBus PrivateBus::slowSession(const std::filesystem::path& directory,
                                   std::size_t maxIncomingBytes) {
  const auto path = directory / "slow-session-bus.conf";
  std::ofstream(path) << "<busconfig><type>session</type><listen>unix:path="
                      << (directory / "session_bus_socket").string()
                      << "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow "
                         "send_destination=\"*\" eavesdrop=\"true\"/><allow "
                         "eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                         "<limit name=\"max_incoming_bytes\">"
                      << maxIncomingBytes << "</limit></busconfig>\n";
  return PrivateBus({"--config-file=" + path.string()});
}

PrivateBus PrivateBus::systemLike(const std::filesystem::path& directory, HelperPolicy helper) {
  std::ifstream in(WEXLA_SYSTEM_BUS_TEMPLATE);
  std::string config{std::istreambuf_iterator<char>(in), {}};
  std::string includes;
  if (helper == HelperPolicy::ownerOnly) {
    includes = "<policy context=\"default\"><allow own=\"dev.wexla.helper\"/></policy>";
  }
  if (helper == HelperPolicy::included) {
    includes = "<include>" WEXLA_HELPER_POLICY "</include>";
    if (::getuid() != 0) {
      includes += "<policy user=\"" + std::to_string(::getuid()) +
                  "\"><allow own=\"dev.wexla.helper\"/></policy>";
    }
  }
  const auto substitute = [&](const std::string& key, const std::string& value) {
    config.replace(config.find(key), key.size(), value);
  };
  substitute("@SOCKET@", (directory / "system_bus_socket").string());
  substitute("@INCLUDES@", includes);
  const auto path = directory / "system-bus.conf";
  std::ofstream(path) << config;
  return PrivateBus({"--config-file=" + path.string()});
}

bool forgeNameLeft(sd_bus* bus, const std::string& to, const std::string& name,
                   const std::string& owner) {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_signal(bus, &raw, "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                "NameOwnerChanged") < 0) {
    return false;
  }
  const sd::Message forged(raw);
  return sd_bus_message_set_destination(raw, to.c_str()) >= 0 &&
         sd_bus_message_append(raw, "sss", name.c_str(), owner.c_str(), "") >= 0 &&
         sd_bus_send(bus, raw, nullptr) >= 0 && sd_bus_flush(bus) >= 0;
}

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

const std::vector<std::string>& BusRecorder::texts(std::size_t count,
                                                   std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (texts_.size() < count && std::chrono::steady_clock::now() < deadline) {
    if (sd_bus_process(bus_.get(), nullptr) > 0) continue;
    sd_bus_wait(bus_.get(), 10'000);
  }
  return texts_;
}

}  // namespace wexla::test
