// The whole road on private buses: the built wexlactl, wexla and wexla_helper, with stand-ins for
// logind and polkit. The helper's lock shows as lines of the stand-in logind.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <thread>

#include "ChildProcess.hpp"
#include "PrivateBus.hpp"
#include "TempDir.hpp"

namespace wexla::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

const std::string kOnLine = "on — giữ máy thức tới khi tắt / holding until off";
const std::string kUnreachable =
    " ⚠ helper không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep";

class WholeRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = std::make_unique<PrivateBus>(PrivateBus::session());
    system_ = std::make_unique<PrivateBus>(
        PrivateBus::systemLike(dir_.path(), PrivateBus::HelperPolicy::included));
    logind_ = start({WEXLA_FAKE_LOGIND_PATH});
    ASSERT_EQ(logind_->readLine(10s), "ready");
    polkit_ = start({WEXLA_FAKE_POLKIT_PATH, "--record", (dir_.path() / "asked").string()});
    ASSERT_EQ(polkit_->readLine(10s), "ready");
    startHelper();
    app_ = start({WEXLA_APP_PATH});
    ASSERT_TRUE(session_->waitForName("dev.wexla.app", 10s));
  }

  std::vector<std::string> environment() const {
    return {"PATH=/usr/bin:/bin", "HOME=" + dir_.path().string(),
            "DBUS_SESSION_BUS_ADDRESS=" + session_->address(),
            "DBUS_SYSTEM_BUS_ADDRESS=" + system_->address()};
  }
  std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv) const {
    return std::make_unique<ChildProcess>(argv, environment());
  }

  void startHelper() {
    helper_ = start({WEXLA_HELPER_PATH});
    ASSERT_TRUE(system_->waitForName("dev.wexla.helper", 10s));
  }

  std::string wexlactl(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{WEXLACTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult result =
        runProcess(argv, {"DBUS_SESSION_BUS_ADDRESS=" + session_->address()}, 10s);
    EXPECT_EQ(result.err, "");
    return result.out;
  }

  std::string lockedBy(const ChildProcess& helper) const {
    return "inhibit sleep:handle-lid-switch Wexla block " + std::to_string(helper.pid());
  }
  std::string releasedBy(const ChildProcess& helper) const {
    return "released Wexla " + std::to_string(helper.pid());
  }

  TempDir dir_;
  std::unique_ptr<PrivateBus> session_;
  std::unique_ptr<PrivateBus> system_;
  std::unique_ptr<ChildProcess> logind_;
  std::unique_ptr<ChildProcess> polkit_;
  std::unique_ptr<ChildProcess> helper_;
  std::unique_ptr<ChildProcess> app_;
};

TEST_F(WholeRoad, HoldsAreBackedByTheHelperUntilTheyEnd) {
  // A process hold lets go when its process ends.
  ChildProcess sleeper({"/bin/sleep", "60"}, {});
  EXPECT_EQ(wexlactl({"while", std::to_string(sleeper.pid())}),
            "while — giữ khi tiến trình " + std::to_string(sleeper.pid()) +
                " còn chạy / holding while process " + std::to_string(sleeper.pid()) + " runs\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));
  sleeper.signal(SIGKILL);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));

  const auto asked = SteadyClock::now();
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));
  EXPECT_LT(SteadyClock::now() - asked, 1s);

  // Heartbeats keep the lock past the helper's 15–20 s; the agent's texts are never answered.
  BusRecorder replies(*session_, "dev.wexla.status");
  EXPECT_EQ(wexlactl({"busy"}), "");
  EXPECT_EQ(wexlactl({"heartbeat", "5"}), "");
  EXPECT_EQ(replies.texts(1, 500ms).size(), 0u);
  EXPECT_EQ(logind_->readLine(21s), std::nullopt) << "let go while the application held on";
  const std::string json = wexlactl({"status", "json"});
  EXPECT_TRUE(json.starts_with(R"({"held": true, "holds": [{"kind": "manual", "until": null}, )"
                               R"({"kind": "agent", "until": ")") &&
              json.ends_with(R"("}], "helper": "ok"})"
                             "\n"))
      << json;
  EXPECT_EQ(replies.texts(1, 1s), std::vector<std::string>{json.substr(0, json.size() - 1)});

  // A second application leaves the first one in charge.
  const ProcessResult second = runProcess({WEXLA_APP_PATH}, environment(), 5s);
  EXPECT_EQ(second.exitStatus, 1);
  EXPECT_EQ(second.err, "Wexla is already running\n");

  // Stopping the application lets go at once.
  app_->signal(SIGTERM);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));
  EXPECT_EQ(app_->wait(5s).exitStatus, 0);
}

TEST_F(WholeRoad, TheApplicationWarnsWhileTheHelperIsGoneAndHoldsAgainWhenItIsBack) {
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));

  const auto killed = SteadyClock::now();
  helper_->signal(SIGKILL);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));
  std::string status;
  while (SteadyClock::now() - killed < 6s && status != kOnLine + kUnreachable + "\n") {
    std::this_thread::sleep_for(100ms);
    status = wexlactl({"status"});
  }
  EXPECT_EQ(status, kOnLine + kUnreachable + "\n");

  startHelper();
  EXPECT_EQ(logind_->readLine(32s), lockedBy(*helper_));
  EXPECT_LT(SteadyClock::now() - killed, 32s);
  EXPECT_EQ(wexlactl({"status"}), kOnLine + "\n");
}

}  // namespace
}  // namespace wexla::test
