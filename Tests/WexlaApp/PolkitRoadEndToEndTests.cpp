// The application refused by polkit, then let in by a rule written meanwhile, with the built
// wexlactl, wexla and wexla_helper on private buses and a stand-in logind. Polkit is the real
// polkitd where it can run: as root, which it needs to drop to its own user, in a mount namespace
// of its own that shows it the project's action and the test's rules only. The application then
// runs as a user without privileges, as polkit admits root always. Elsewhere the stand-in answers;
// ctest lists the other run as skipped, saying why.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "ChildProcess.hpp"
#include "Files.hpp"
#include "PrivateBus.hpp"
#include "TempDir.hpp"

namespace wexla::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

const std::string kPolkitd = "/usr/lib/polkit-1/polkitd";
const std::string kOnLine = "on — giữ máy thức tới khi tắt / holding until off\n";
const std::string kRefusedLine = kOnLine.substr(0, kOnLine.size() - 1) +
                                 " ⚠ helper từ chối ứng dụng này / the helper refused this "
                                 "application\n";

bool polkitdCanRun() {
  const auto folder = [](const char* path) { return fs::is_directory(path); };
  return ::getuid() == 0 && ::access(kPolkitd.c_str(), X_OK) == 0 && ::getpwnam("polkitd") &&
         ::getpwnam("nobody") && folder("/usr/share/polkit-1/actions") &&
         folder("/usr/share/polkit-1/rules.d") && folder("/etc/polkit-1/rules.d") &&
         runProcess({"/usr/bin/unshare", "--mount", "/bin/true"}, {}, 5s).exitStatus == 0;
}

// Run once with "Polkitd", once with "StandIn".
class PolkitRoad : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (real() != polkitdCanRun()) {
      GTEST_SKIP() << (real() ? "the real polkitd runs only as root; the stand-in answers here"
                              : "the real polkitd answers here");
    }
    const fs::path home = dir_.path() / "home", actions = dir_.path() / "actions",
                   empty = dir_.path() / "empty";
    for (const fs::path& folder : {home, actions, empty, rules_}) fs::create_directory(folder);
    if (real()) {
      const passwd* nobody = ::getpwnam("nobody");
      asUser_ = {"/usr/bin/setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                 "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "--"};
      ASSERT_EQ(::chown(home.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
      // polkitd reads what it is shown as its own user; both users reach the bus's socket.
      for (const fs::path& folder : {dir_.path(), actions, empty, rules_})
        fs::permissions(folder, fs::perms(0755));
      fs::copy_file(WEXLA_HELPER_POLKIT_ACTION, actions / "dev.wexla.helper.policy");
      fs::permissions(actions / "dev.wexla.helper.policy", fs::perms(0644));
    }
    system_ = std::make_unique<PrivateBus>(
        PrivateBus::systemLike(dir_.path(), PrivateBus::HelperPolicy::included));
    env_.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + system_->address());
    logind_ = start({WEXLA_FAKE_LOGIND_PATH});
    ASSERT_EQ(logind_->readLine(10s), "ready");
    grant("denied");  // no rule yet: without an active session, polkit's default is no
    polkit_ = real() ? start({"/usr/bin/unshare", "--mount", "--propagation", "private", "--",
                              "/bin/sh", "-c",
                              "mount --bind \"$1\" /usr/share/polkit-1/actions && "
                              "mount --bind \"$2\" /usr/share/polkit-1/rules.d && "
                              "mount --bind \"$3\" /etc/polkit-1/rules.d && exec \"$4\" --no-debug",
                              "sh", actions, empty, rules_, kPolkitd})
                     : start({WEXLA_FAKE_POLKIT_PATH, "--rules", rules_ / "answer"});
    ASSERT_TRUE(system_->waitForName("org.freedesktop.PolicyKit1", 10s));
    helper_ = start({WEXLA_HELPER_PATH});
    ASSERT_TRUE(system_->waitForName("dev.wexla.helper", 10s));

    sessionBus_ =
        start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"}, asUser_);
    env_.push_back("DBUS_SESSION_BUS_ADDRESS=" + sessionBus_->readLine(10s).value_or(""));
    env_.push_back("HOME=" + home.string());
    app_ = start({WEXLA_APP_PATH}, asUser_);
  }

  bool real() const { return GetParam() == "Polkitd"; }

  std::unique_ptr<ChildProcess> start(std::vector<std::string> argv,
                                      const std::vector<std::string>& prefix = {}) const {
    argv.insert(argv.begin(), prefix.begin(), prefix.end());
    return std::make_unique<ChildProcess>(argv, env_);
  }

  std::string wexlactl(const std::string& command) const {
    return start({WEXLACTL_PATH, command}, asUser_)->wait(10s).out;
  }

  // The stand-in's answer, or a rule for the real polkitd, which it finds by watching its folder.
  void grant(const std::string& answer) const {
    const std::string rule =
        "polkit.addRule(function(action, subject) {\n"
        "  if (action.id == \"dev.wexla.helper.control\")\n"
        "    return polkit.Result.YES;\n"
        "});\n";
    if (real() && answer == "denied") return;
    writeFile(rules_ / "new", real() ? rule : answer);
    fs::permissions(rules_ / "new", fs::perms(0644));
    fs::rename(rules_ / "new", rules_ / (real() ? "50-wexla-test.rules" : "answer"));
  }

  TempDir dir_;
  const fs::path rules_ = dir_.path() / "rules";
  std::vector<std::string> asUser_;
  std::vector<std::string> env_{"PATH=/usr/bin:/bin"};
  std::unique_ptr<PrivateBus> system_;
  std::unique_ptr<ChildProcess> logind_, polkit_, helper_, sessionBus_, app_;
};

TEST_P(PolkitRoad, RefusedThenGrantedTheApplicationHoldsAtItsNextTryWithoutARestart) {
  std::string status;
  for (auto until = SteadyClock::now() + 10s; status != kRefusedLine && SteadyClock::now() < until;
       std::this_thread::sleep_for(200ms)) {
    status = wexlactl(status.empty() ? "on" : "status");
  }
  ASSERT_EQ(status, kRefusedLine);

  grant("authorized");
  const auto granted = SteadyClock::now();
  EXPECT_EQ(logind_->readLine(35s),
            "inhibit sleep:handle-lid-switch Wexla block " + std::to_string(helper_->pid()));
  EXPECT_LT(SteadyClock::now() - granted, 35s);
  EXPECT_EQ(wexlactl("status"), kOnLine);

  // Another caller's whole road leaves the application's lock in place.
  const sd::Bus other = system_->connect();
  for (const int on : {1, -1, 0}) {
    EXPECT_GE(
        sd_bus_call_method(other.get(), "dev.wexla.helper", "/dev/wexla/helper",
                           "dev.wexla.HelperProtocol", on < 0 ? "Heartbeat" : "SetDisableSleep",
                           nullptr, nullptr, on < 0 ? "" : "b", on),
        0);
  }
  EXPECT_EQ(logind_->readLine(1s), std::nullopt);
  EXPECT_EQ(wexlactl("status"), kOnLine);

  helper_->signal(SIGTERM);
  const std::string log = helper_->wait(10s).err;
  EXPECT_NE(log.find(" (polkit denied dev.wexla.helper.control)\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("XPC"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(, PolkitRoad, ::testing::Values("Polkitd", "StandIn"),
                         [](const auto& param) { return param.param; });

}  // namespace
}  // namespace wexla::test
