// The application refused by polkit, then let in by a rule written meanwhile: it holds at its next
// try, without a restart. Polkit is the real polkitd where it can run (as root; it drops to its
// own user), in a mount namespace that shows it only the helper's action and the test's rules,
// with the application under an unprivileged user, as polkit admits root always; elsewhere the
// stand-in. CTest lists the variant that did not run as skipped.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
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

const std::string kPolkitd = "/usr/lib/polkit-1/polkitd";
const std::string kOn = "on — giữ máy thức tới khi tắt / holding until off";
const std::string kRefused = " ⚠ helper từ chối ứng dụng này / the helper refused this application";

class PolkitRoad : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const passwd* nobody = ::getpwnam("nobody");
    const bool polkitdRuns =
        ::getuid() == 0 && nobody && ::getpwnam("polkitd") && fs::exists(kPolkitd) &&
        runProcess({"/usr/bin/unshare", "--mount", "/bin/true"}, {}).exitStatus == 0;
    if (real() != polkitdRuns) {
      GTEST_SKIP() << (polkitdRuns ? "the real polkitd answers here"
                                   : "the real polkitd runs only as root; the stand-in answers");
    }
    // polkitd reads its files as its own user; both users reach the bus's socket.
    if (real()) ::umask(022);
    if (real()) fs::permissions(dir_.path(), fs::perms(0755));
    const fs::path home = dir_.path() / "home", actions = dir_.path() / "actions";
    for (const fs::path& folder : {home, actions, rules_, dir_.path() / "none"})
      fs::create_directory(folder);
    fs::copy_file(WEXLA_HELPER_POLKIT_ACTION, actions / "dev.wexla.helper.policy");
    if (real()) {
      asUser_ = {"/usr/bin/setpriv", "--reuid=" + std::to_string(nobody->pw_uid),
                 "--regid=" + std::to_string(nobody->pw_gid), "--clear-groups", "--"};
      ASSERT_EQ(::chown(home.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    system_ = std::make_unique<PrivateBus>(
        PrivateBus::systemLike(dir_.path(), PrivateBus::HelperPolicy::included));
    env_.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + system_->address());
    logind_ = start({WEXLA_FAKE_LOGIND_PATH});
    ASSERT_EQ(logind_->readLine(10s), "ready");
    if (!real()) grant("denied");  // the real polkitd says no by default without a session
    polkit_ =
        real() ? start({"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c",
                        "cd \"$1\" && mount --bind actions /usr/share/polkit-1/actions && "
                        "mount --bind none /usr/share/polkit-1/rules.d && "
                        "mount --bind rules /etc/polkit-1/rules.d && exec \"$0\" --no-debug",
                        kPolkitd, dir_.path()})
               : start({WEXLA_FAKE_POLKIT_PATH, "--rules", rules_ / "answer"});
    ASSERT_TRUE(system_->waitForName("org.freedesktop.PolicyKit1", 10s));
    helper_ = start({WEXLA_HELPER_PATH});
    ASSERT_TRUE(system_->waitForName("dev.wexla.helper", 10s));
    session_ = start({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"}, true);
    env_.push_back("DBUS_SESSION_BUS_ADDRESS=" + session_->readLine(10s).value_or(""));
    env_.push_back("HOME=" + home.string());
    app_ = start({WEXLA_APP_PATH}, true);
  }

  bool real() const { return GetParam() == "Polkitd"; }

  // The user's side runs as an unprivileged user where the real polkitd runs.
  std::unique_ptr<ChildProcess> start(std::vector<std::string> argv, bool user = false) const {
    if (user) argv.insert(argv.begin(), asUser_.begin(), asUser_.end());
    return std::make_unique<ChildProcess>(argv, env_);
  }
  std::string wexlactl(const std::string& text) const {
    return start({WEXLACTL_PATH, text}, true)->wait(10s).out;
  }

  // The stand-in's answer, or a rule the real polkitd finds by watching its folder.
  void grant(const std::string& answer) const {
    writeFile(rules_ / "new", real() ? "polkit.addRule(function(action) { if (action.id == "
                                       "'dev.wexla.helper.control') return polkit.Result.YES; });"
                                     : answer);
    fs::rename(rules_ / "new", rules_ / (real() ? "50-wexla-test.rules" : "answer"));
  }

  TempDir dir_;
  const fs::path rules_ = dir_.path() / "rules";
  std::vector<std::string> asUser_, env_{"PATH=/usr/bin:/bin"};
  std::unique_ptr<PrivateBus> system_;
  std::unique_ptr<ChildProcess> logind_, polkit_, helper_, session_, app_;
};

TEST_P(PolkitRoad, RefusedThenGrantedTheApplicationHoldsAtItsNextTryWithoutARestart) {
  std::string status;
  for (auto until = std::chrono::steady_clock::now() + 10s;
       status != kOn + kRefused + "\n" && std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(200ms)) {
    status = wexlactl(status.empty() ? "on" : "status");
  }
  ASSERT_EQ(status, kOn + kRefused + "\n");

  grant("authorized");
  EXPECT_EQ(logind_->readLine(35s),
            "inhibit sleep:handle-lid-switch Wexla block " + std::to_string(helper_->pid()));
  EXPECT_EQ(wexlactl("status"), kOn + "\n");
}

INSTANTIATE_TEST_SUITE_P(, PolkitRoad, ::testing::Values("Polkitd", "StandIn"),
                         [](const auto& param) { return param.param; });

}  // namespace
}  // namespace wexla::test
