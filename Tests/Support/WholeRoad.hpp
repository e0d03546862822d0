#pragma once
// The whole road on private buses for the end-to-end tests of the application: the built
// wexlactl, wexla and wexla_helper, with stand-ins for logind and polkit. The helper's lock shows
// as lines of the stand-in logind.
#include <gtest/gtest.h>
#include <signal.h>
#include <systemd/sd-bus.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.hpp"
#include "PrivateBus.hpp"
#include "TempDir.hpp"

namespace wexla::test {

using namespace std::chrono_literals;

class WholeRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    startRoad();
    startApp();
  }

  // The buses, the stand-ins and the helper; the application is started apart.
  void startRoad() {
    session_ = std::make_unique<PrivateBus>(PrivateBus::session());
    system_ = std::make_unique<PrivateBus>(PrivateBus::systemLike(dir_.path(), policy_));
    startSystemServices();
    startHelper();
  }

  void startApp() {
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

  // Posts command texts as wexlactl would, without waiting: as fast as a flood comes. Through
  // `via`, kept open by the caller, or a connection of its own to the session bus.
  void post(const std::vector<std::string>& texts, sd_bus* via = nullptr) const {
    const sd::Bus own = via != nullptr ? nullptr : session_->connect();
    sd_bus* bus = via != nullptr ? via : own.get();
    ASSERT_TRUE(bus);
    for (const std::string& text : texts) {
      ASSERT_GE(sd_bus_emit_signal(bus, "/dev/wexla/DistributedNotificationCenter",
                                   "dev.wexla.DistributedNotificationCenter", "Notification", "ss",
                                   "dev.wexla.command", text.c_str()),
                0);
    }
    ASSERT_GE(sd_bus_flush(bus), 0);
  }

  // Posts a flood and waits until its replies stop coming, so none is taken for a later one's.
  void flood(const std::vector<std::string>& texts) const {
    BusRecorder replies(*session_, "dev.wexla.status");
    post(texts);
    for (std::size_t seen = 0;;) {
      const std::size_t now = replies.texts(seen + 1, seen == 0 ? 10s : 500ms).size();
      if (now == seen) break;
      seen = now;
    }
  }

  // Ends the application of SetUp; the caller starts its own.
  void stopApp() {
    app_->signal(SIGTERM);
    app_->wait(5s);
  }

  // The locks the stand-in logind handed out, until it is quiet for `limit`.
  std::size_t locksSeen(std::chrono::milliseconds limit) const {
    std::size_t locks = 0;
    while (const auto line = logind_->readLine(limit)) locks += line->starts_with("inhibit");
    return locks;
  }

  void startSystemServices() {
    logind_ = start({WEXLA_FAKE_LOGIND_PATH});
    ASSERT_EQ(logind_->readLine(10s), "ready");
    std::vector<std::string> polkit{WEXLA_FAKE_POLKIT_PATH, "--record",
                                    (dir_.path() / "asked").string()};
    for (std::string& answer : polkitAnswers()) polkit.push_back(std::move(answer));
    polkit_ = start(polkit);
    ASSERT_EQ(polkit_->readLine(10s), "ready");
  }
  // More of the stand-in polkit's arguments, asked once the system bus is up.
  virtual std::vector<std::string> polkitAnswers() { return {}; }

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

  // What `wexlactl ARGS` prints once `wanted` holds of it, or the last at the limit.
  std::string statusUntil(const std::function<bool(const std::string&)>& wanted,
                          std::chrono::milliseconds limit,
                          const std::vector<std::string>& args = {"status"}) const {
    std::string status;
    for (const auto until = std::chrono::steady_clock::now() + limit;
         !wanted(status) && std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(100ms)) {
      status = wexlactl(args);
    }
    return status;
  }
  std::string statusUntil(const std::string& expected, std::chrono::milliseconds limit) const {
    return statusUntil([&](const std::string& status) { return status == expected; }, limit);
  }

  std::string lockedBy(const ChildProcess& helper) const {
    return "inhibit sleep:handle-lid-switch Wexla block " + std::to_string(helper.pid());
  }
  std::string releasedBy(const ChildProcess& helper) const {
    return "released Wexla " + std::to_string(helper.pid());
  }

  PrivateBus::HelperPolicy policy_ = PrivateBus::HelperPolicy::included;
  TempDir dir_;
  std::unique_ptr<PrivateBus> session_;
  std::unique_ptr<PrivateBus> system_;
  std::unique_ptr<ChildProcess> logind_;
  std::unique_ptr<ChildProcess> polkit_;
  std::unique_ptr<ChildProcess> helper_;
  std::unique_ptr<ChildProcess> app_;
};

}  // namespace wexla::test
