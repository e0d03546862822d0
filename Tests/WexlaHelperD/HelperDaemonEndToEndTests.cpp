// The built wexla_helper on a private system-like bus with the project's bus policy, a stand-in
// logind and a stand-in polkit.
#include <gtest/gtest.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <thread>

#include "ChildProcess.hpp"
#include "PrivateBus.hpp"
#include "SdBus.hpp"
#include "TempDir.hpp"

namespace wexla::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

struct Answer {
  bool ok = false;     // the call returned
  bool value = false;  // its Boolean
  std::string error;   // the error name otherwise
};

class HelperDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<PrivateBus>(
        PrivateBus::systemLike(dir_.path(), PrivateBus::HelperPolicy::included));
    logind_ = std::make_unique<ChildProcess>(std::vector<std::string>{WEXLA_FAKE_LOGIND_PATH},
                                             environment());
    ASSERT_EQ(logind_->readLine(10s), "ready");
    client_ = bus_->connect();
    ASSERT_TRUE(client_);
  }

  std::vector<std::string> environment() const {
    return {"PATH=/usr/bin:/bin", "DBUS_SYSTEM_BUS_ADDRESS=" + bus_->address()};
  }

  void startPolkit(const std::string& answer, const std::string& slowFor = "") {
    polkit_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{WEXLA_FAKE_POLKIT_PATH, "--record",
                                 (dir_.path() / "asked").string(), "--answer", answer, "--slow-for",
                                 slowFor},
        environment());
    ASSERT_EQ(polkit_->readLine(10s), "ready");
  }

  // Starts the helper and waits until it provides its name.
  void startHelper() {
    helper_ =
        std::make_unique<ChildProcess>(std::vector<std::string>{WEXLA_HELPER_PATH}, environment());
    ASSERT_TRUE(bus_->waitForName("dev.wexla.helper", 10s)) << "the helper never took its name";
  }

  // From the test's client, or from `bus`.
  Answer call(const char* method, std::optional<bool> argument = std::nullopt,
              sd_bus* bus = nullptr) {
    if (bus == nullptr) bus = client_.get();
    sd::Error error;
    sd_bus_message* reply = nullptr;
    int r = argument
                ? sd_bus_call_method(bus, "dev.wexla.helper", "/dev/wexla/helper",
                                     "dev.wexla.HelperProtocol", method, error.get(), &reply, "b",
                                     static_cast<int>(*argument))
                : sd_bus_call_method(bus, "dev.wexla.helper", "/dev/wexla/helper",
                                     "dev.wexla.HelperProtocol", method, error.get(), &reply, "");
    const sd::Message owned(reply);
    Answer answer;
    int value = 0;
    if (r >= 0 && sd_bus_message_read(reply, "b", &value) >= 0) {
      answer.ok = true;
      answer.value = value != 0;
    } else if (error.name() != nullptr) {
      answer.error = error.name();
    }
    return answer;
  }

  // The helper's log lines, once it has been stopped; it lets go first and exits with success.
  std::string stopHelper() {
    helper_->signal(SIGTERM);
    const ProcessResult stopped = helper_->wait(10s);
    EXPECT_EQ(stopped.exitStatus, 0);
    return stopped.err;
  }

  std::string inhibitLine() const {
    return "inhibit sleep:handle-lid-switch Wexla block " + std::to_string(helperPid());
  }
  pid_t helperPid() const { return helper_->pid(); }

  TempDir dir_;
  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<ChildProcess> logind_;
  std::unique_ptr<ChildProcess> polkit_;
  std::unique_ptr<ChildProcess> helper_;
  sd::Bus client_;
};

TEST_F(HelperDaemon, HeartbeatsHoldTheLockAndItGoesWhenTheyStop) {
  startPolkit("authorized");
  startHelper();
  const Answer engaged = call("SetDisableSleep", true);
  ASSERT_TRUE(engaged.ok) << engaged.error;
  EXPECT_TRUE(engaged.value);
  EXPECT_EQ(logind_->readLine(5s), inhibitLine());
  EXPECT_TRUE(call("CurrentDisableSleep").value);

  auto lastHeartbeat = SteadyClock::now();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(logind_->readLine(3s), std::nullopt) << "released while heartbeats came";
    lastHeartbeat = SteadyClock::now();
    EXPECT_TRUE(call("Heartbeat").value);
  }
  // Released at the first tick that finds the heartbeat more than 15 s old.
  const auto released = logind_->readLine(25s);
  const std::chrono::duration<double> after = SteadyClock::now() - lastHeartbeat;
  EXPECT_EQ(released, "released Wexla " + std::to_string(helperPid()));
  EXPECT_GE(after.count(), 15.0);
  EXPECT_LE(after.count(), 21.5);
  EXPECT_FALSE(call("CurrentDisableSleep").value);

  EXPECT_EQ(stopHelper(),
            "<6>helper started; boot reconciliation done\n<6>setDisableSleep(true) -> true\n");
}

TEST_F(HelperDaemon, TheLockGoesOnRequestReturnsWhenLogindLostItAndDiesWithTheHelper) {
  startPolkit("authorized");
  startHelper();
  EXPECT_TRUE(call("SetDisableSleep", true).value);
  EXPECT_EQ(logind_->readLine(5s), inhibitLine());
  EXPECT_TRUE(call("SetDisableSleep", false).value);
  EXPECT_EQ(logind_->readLine(5s), "released Wexla " + std::to_string(helperPid()));

  EXPECT_TRUE(call("SetDisableSleep", true).value);
  EXPECT_EQ(logind_->readLine(5s), inhibitLine());
  logind_->signal(SIGUSR1);  // logind forgets the lock while the helper still holds its descriptor
  EXPECT_EQ(logind_->readLine(5s), "dropped");
  EXPECT_FALSE(call("CurrentDisableSleep").value);
  EXPECT_TRUE(call("SetDisableSleep", true).value);
  EXPECT_EQ(logind_->readLine(5s), inhibitLine()) << "answered true without a lock";
  const pid_t pid = helperPid();
  helper_->signal(SIGKILL);
  EXPECT_EQ(logind_->readLine(5s), "released Wexla " + std::to_string(pid));
}

TEST_F(HelperDaemon, AnUnauthorisedCallerIsRefusedAndLoggedOnce) {
  startPolkit("denied");
  startHelper();
  for (const char* method : {"SetDisableSleep", "Heartbeat", "CurrentDisableSleep"}) {
    const Answer answer =
        std::string(method) == "SetDisableSleep" ? call(method, true) : call(method);
    EXPECT_FALSE(answer.ok) << method;
    EXPECT_EQ(answer.error, "org.freedesktop.DBus.Error.AccessDenied") << method;
  }
  EXPECT_EQ(logind_->readLine(500ms), std::nullopt) << "a refused caller reached logind";
  EXPECT_EQ(stopHelper(),
            "<6>helper started; boot reconciliation done\n"
            "<3>rejected XPC peer (signature mismatch)\n");
}

TEST_F(HelperDaemon, ASlowPolkitHoldsOnlyTheCallerItIsAskedAbout) {
  const sd::Bus slow = bus_->connect();
  const char* slowName = nullptr;
  ASSERT_GE(sd_bus_get_unique_name(slow.get(), &slowName), 0);
  startPolkit("authorized", slowName);  // answers about it after 10 s, past the helper's limit
  startHelper();
  ASSERT_TRUE(call("SetDisableSleep", true).value);
  EXPECT_EQ(logind_->readLine(5s), inhibitLine());

  std::future<Answer> slowAnswer =
      std::async(std::launch::async, [&] { return call("SetDisableSleep", true, slow.get()); });
  for (int i = 0; i < 7; ++i) {
    const auto sent = SteadyClock::now();
    EXPECT_TRUE(call("Heartbeat").value);
    EXPECT_LT(SteadyClock::now() - sent, 100ms) << "a heartbeat waited on polkit";
    EXPECT_EQ(logind_->readLine(1s), std::nullopt) << "the lock went while heartbeats came";
  }
  // Refused once the helper's limit passed, without an answer from polkit.
  EXPECT_EQ(slowAnswer.get().error, "org.freedesktop.DBus.Error.AccessDenied");

  const pid_t pid = helperPid();
  EXPECT_EQ(stopHelper(),
            "<6>helper started; boot reconciliation done\n<6>setDisableSleep(true) -> true\n"
            "<3>rejected XPC peer (signature mismatch)\n");
  EXPECT_EQ(logind_->readLine(5s), "released Wexla " + std::to_string(pid));
}

TEST_F(HelperDaemon, ItExitsWithAFailureWhenItLosesTheBus) {
  startPolkit("authorized");
  startHelper();
  bus_->stop();
  const ProcessResult ended = helper_->wait(5s);
  EXPECT_FALSE(ended.timedOut);
  EXPECT_EQ(ended.exitStatus, 1);
}

}  // namespace
}  // namespace wexla::test
