// The built wexla_helper on a private system-like bus with the project's bus policy, a stand-in
// logind and a stand-in polkit.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <future>

#include "ChildProcess.hpp"
#include "Files.hpp"
#include "PrivateBus.hpp"
#include "TempDir.hpp"

namespace wexla::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

const std::string kDenied = "org.freedesktop.DBus.Error.AccessDenied";
const std::string kStarted = "<6>helper started; boot reconciliation done\n";
const std::string kEngaged = "<6>setDisableSleep(true) -> true\n";
const std::string kReleased = "<6>setDisableSleep(false) -> true\n";

std::string uniqueName(const sd::Bus& bus) {
  const char* name = "";
  sd_bus_get_unique_name(bus.get(), &name);
  return name;
}

// Besides the test's client: two more that polkit lets in, callers it refuses, one it lets in
// after 10 s (past the helper's limit of 5 s), one that leaves before polkit lets it in after 2 s.
class HelperDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<PrivateBus>(
        PrivateBus::systemLike(dir_.path(), PrivateBus::HelperPolicy::included));
    logind_ = start({WEXLA_FAKE_LOGIND_PATH});
    ASSERT_EQ(logind_->readLine(10s), "ready");
    for (sd::Bus* bus :
         {&client_, &other_, &quiet_, &denied_, &challenged_, &odd_, &slow_, &leaving_}) {
      *bus = bus_->connect();
      ASSERT_TRUE(*bus);
    }
    polkit_ =
        start({WEXLA_FAKE_POLKIT_PATH, "--record", (dir_.path() / "asked").string(), "--answer",
               uniqueName(denied_) + "=denied", "--answer", uniqueName(challenged_) + "=challenge",
               "--answer", uniqueName(odd_) + "=malformed", "--answer", uniqueName(slow_) + "=10",
               "--answer", uniqueName(leaving_) + "=2"});
    ASSERT_EQ(polkit_->readLine(10s), "ready");
    helper_ = start({WEXLA_HELPER_PATH});
    ASSERT_TRUE(bus_->waitForName("dev.wexla.helper", 10s)) << "the helper never took its name";
  }

  std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv) const {
    return std::make_unique<ChildProcess>(
        argv, std::vector<std::string>{"PATH=/usr/bin:/bin",
                                       "DBUS_SYSTEM_BUS_ADDRESS=" + bus_->address()});
  }

  // "true" or "false", or the name of the error; from the test's client unless `from` is given.
  std::string call(const std::string& method, bool on = true, sd_bus* from = nullptr) {
    sd::Error error;
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(from != nullptr ? from : client_.get(), "dev.wexla.helper",
                                     "/dev/wexla/helper", "dev.wexla.HelperProtocol",
                                     method.c_str(), error.get(), &reply,
                                     method == "SetDisableSleep" ? "b" : "", static_cast<int>(on));
    const sd::Message owned(reply);
    int value = 0;
    if (r >= 0 && sd_bus_message_read(reply, "b", &value) >= 0) return value ? "true" : "false";
    return error.name() != nullptr ? error.name() : "no answer";
  }

  std::string locked() const {
    return "inhibit sleep:handle-lid-switch Wexla block " + std::to_string(helper_->pid());
  }
  std::string released() const { return "released Wexla " + std::to_string(helper_->pid()); }

  TempDir dir_;
  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<ChildProcess> logind_, polkit_, helper_;
  sd::Bus client_, other_, quiet_, denied_, challenged_, odd_, slow_, leaving_;
};

TEST_F(HelperDaemon, EachCallerHoldsUntilItsHeartbeatsStopAndOnlyAPlainYesInTimeLetsItIn) {
  EXPECT_EQ(call("SetDisableSleep"), "true");
  EXPECT_EQ(logind_->readLine(5s), locked());
  EXPECT_EQ(call("CurrentDisableSleep"), "true");
  // Another caller's whole road leaves the lock in place; a third holds, then falls silent.
  for (const char* method : {"SetDisableSleep", "Heartbeat"})
    EXPECT_EQ(call(method, true, other_.get()), "true");
  EXPECT_EQ(call("SetDisableSleep", false, other_.get()), "true");
  EXPECT_EQ(call("SetDisableSleep", true, quiet_.get()), "true");
  // Asked about at every call: a refusal is never kept.
  for (const char* method : {"SetDisableSleep", "Heartbeat", "CurrentDisableSleep"}) {
    EXPECT_EQ(call(method, false, denied_.get()), kDenied) << method;
  }
  EXPECT_EQ(call("Heartbeat", true, challenged_.get()), kDenied);
  EXPECT_EQ(call("Heartbeat", true, odd_.get()), kDenied);
  ASSERT_GE(sd_bus_call_method_async(leaving_.get(), nullptr, "dev.wexla.helper",
                                     "/dev/wexla/helper", "dev.wexla.HelperProtocol",
                                     "SetDisableSleep", nullptr, nullptr, "b", 0),
            0);
  leaving_.reset();  // sent, then gone: its question goes with it
  std::future<std::string> slowAnswer =
      std::async(std::launch::async, [&] { return call("SetDisableSleep", false, slow_.get()); });

  // Past the silent caller's 15–20 s: its hold goes, the client's stays.
  auto lastHeartbeat = SteadyClock::now();
  for (int i = 0; i < 21; ++i) {
    EXPECT_EQ(logind_->readLine(1s), std::nullopt) << "the lock went while heartbeats came";
    lastHeartbeat = SteadyClock::now();
    EXPECT_EQ(call("Heartbeat"), "true");
    EXPECT_LT(SteadyClock::now() - lastHeartbeat, 100ms) << "a heartbeat waited on polkit";
  }
  EXPECT_EQ(slowAnswer.get(), kDenied);  // at the helper's limit, without an answer
  // Released at the first tick (every 5 s) that finds the last heartbeat more than 15 s old.
  EXPECT_EQ(logind_->readLine(25s), released());
  const std::chrono::duration<double> after = SteadyClock::now() - lastHeartbeat;
  EXPECT_GE(after.count(), 15.0);
  EXPECT_LE(after.count(), 21.5);
  EXPECT_EQ(call("CurrentDisableSleep"), "false");

  EXPECT_EQ(call("SetDisableSleep"), "true");
  EXPECT_EQ(logind_->readLine(5s), locked());
  // Stopped, it lets go first and exits with success.
  const std::string lockGone = released();
  helper_->signal(SIGTERM);
  const ProcessResult stopped = helper_->wait(10s);
  EXPECT_EQ(stopped.exitStatus, 0);
  EXPECT_EQ(logind_->readLine(5s), lockGone);
  // Three refusal lines in a minute, naming the caller, polkit and the action.
  const std::string refused =
      "<3>rejected caller " + uniqueName(denied_) + " (polkit denied dev.wexla.helper.control)\n";
  EXPECT_EQ(stopped.err, kStarted + kEngaged + kEngaged + kReleased + kEngaged + refused + refused +
                             refused + "<6>released: heartbeats stopped\n" + kEngaged +
                             "<6>released: stopping\n");
  // The helper's action, no details, no interaction; once for each hold that began.
  std::string questions;
  for (const sd::Bus* caller :
       {&client_, &other_, &quiet_, &denied_, &denied_, &denied_, &challenged_, &odd_})
    questions += "system-bus-name name=" + uniqueName(*caller) + " dev.wexla.helper.control 0 ''\n";
  EXPECT_TRUE(readFile(dir_.path() / "asked").starts_with(questions))
      << readFile(dir_.path() / "asked");
}

TEST_F(HelperDaemon, TheLockGoesOnRequestReturnsWhenLogindLostItAndIsOnlyEverItsOwn) {
  sd_bus_message* raw = nullptr;  // another process's lock under the helper's name
  ASSERT_GE(sd_bus_call_method(client_.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "Inhibit", nullptr, &raw, "ssss",
                               "sleep", "Wexla", "a test", "block"),
            0);
  const sd::Message foreign(raw);
  EXPECT_EQ(logind_->readLine(5s), "inhibit sleep Wexla block " + std::to_string(::getpid()));
  EXPECT_EQ(call("CurrentDisableSleep"), "false");

  EXPECT_EQ(call("SetDisableSleep", true), "true");
  EXPECT_EQ(logind_->readLine(5s), locked());
  EXPECT_EQ(call("SetDisableSleep", false), "true");
  EXPECT_EQ(logind_->readLine(5s), released());
  EXPECT_EQ(call("SetDisableSleep", true), "true");
  EXPECT_EQ(logind_->readLine(5s), locked());
  logind_->signal(SIGUSR1);  // logind forgets the lock while the helper still holds its descriptor
  EXPECT_EQ(logind_->readLine(5s), "dropped");
  EXPECT_EQ(call("CurrentDisableSleep"), "false");
  EXPECT_EQ(call("SetDisableSleep", true), "true");
  EXPECT_EQ(logind_->readLine(5s), locked()) << "answered true without a lock";
  client_.reset();  // the last caller holding it gone, it lets go at once
  EXPECT_EQ(logind_->readLine(5s), released());

  // Without its bus nobody can reach it: it ends with a failure, and systemd starts it again.
  bus_->stop();
  const ProcessResult ended = helper_->wait(5s);
  EXPECT_EQ(ended.exitStatus, 1);
  EXPECT_EQ(ended.err, kStarted + kEngaged + kReleased + kEngaged + kEngaged +
                           "<6>released: the last caller holding it left\n");
}

}  // namespace
}  // namespace wexla::test
