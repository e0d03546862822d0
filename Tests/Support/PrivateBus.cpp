#include "PrivateBus.hpp"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace wexla::test {

PrivateBus::PrivateBus(const std::vector<std::string>& configuration) {
  std::vector<std::string> argv{"/usr/bin/dbus-daemon", "--nofork", "--nopidfile",
                                "--print-address=1"};
  argv.insert(argv.end(), configuration.begin(), configuration.end());
  daemon_ = std::make_unique<ChildProcess>(argv, std::vector<std::string>{"PATH=/usr/bin:/bin"});
  const auto line = daemon_->readLine(std::chrono::seconds(10));
  if (!line || line->empty()) throw std::runtime_error("dbus-daemon printed no address");
  address_ = *line;
}

PrivateBus PrivateBus::session() { return PrivateBus({"--session"}); }

PrivateBus PrivateBus::systemLike(const std::filesystem::path& directory,
                                  const std::vector<std::filesystem::path>& policies,
                                  const std::vector<std::string>& namesForThisUser) {
  std::ifstream in(WEXLA_SYSTEM_BUS_TEMPLATE);
  std::string config{std::istreambuf_iterator<char>(in), {}};
  std::string includes;
  for (const auto& policy : policies) includes += "<include>" + policy.string() + "</include>";
  for (const auto& name : namesForThisUser) {
    includes += "<policy user=\"" + std::to_string(::getuid()) + "\"><allow own=\"" + name +
                "\"/></policy>";
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

}  // namespace wexla::test
