#include "PrivateBus.hpp"

#include <fstream>
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
                                  const std::vector<std::filesystem::path>& policies) {
  // The default policy of the real system bus, in short: nothing may own a name or call a
  // method unless a policy allows it.
  std::string config =
      R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=)" +
      (directory / "system_bus_socket").string() + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Properties"/>
  </policy>
  <policy context="default">
    <allow own="org.freedesktop.PolicyKit1"/>
    <allow send_destination="org.freedesktop.PolicyKit1"/>
    <allow own="org.freedesktop.login1"/>
    <allow send_destination="org.freedesktop.login1"/>
  </policy>
)";
  for (const auto& policy : policies) config += "  <include>" + policy.string() + "</include>\n";
  config += "</busconfig>\n";
  const auto path = directory / "system-bus.conf";
  std::ofstream(path) << config;
  return PrivateBus({"--config-file=" + path.string()});
}

}  // namespace wexla::test
