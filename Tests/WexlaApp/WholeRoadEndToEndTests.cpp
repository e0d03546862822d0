// The whole road on private buses: the built wexlactl, wexla and wexla_helper, with stand-ins for
// logind and polkit. The helper's lock shows as lines of the stand-in logind.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "WholeRoad.hpp"

namespace wexla::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

const std::string kOnLine = "on — giữ máy thức tới khi tắt / holding until off";
const std::string kUnreachable =
    " ⚠ helper không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep";

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
