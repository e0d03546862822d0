// The built wexla_helper on a private system-like bus with the project's bus policy, a stand-in
// logind and a stand-in polkit.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "Files.hpp"
#include "WholeRoad.hpp"

namespace wexla::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

const std::string kDenied = "org.freedesktop.DBus.Error.AccessDenied";
const std::string kUnchecked = "dev.wexla.HelperProtocol.Error.Unchecked";
const std::string kStarted = "<6>helper started; boot reconciliation done\n";
const std::string kEngaged = "<6>setDisableSleep(true) -> true\n";
const std::string kReleased = "<6>setDisableSleep(false) -> true\n";

std::string uniqueName(const sd::Bus& bus) {
  const char* name = "";
  sd_bus_get_unique_name(bus.get(), &name);
  return name;
}

// Besides the test's client: another that polkit lets in, one that only ever heartbeats, callers
// it refuses, one it lets in after 10 s (past the helper's limit of 5 s), one that leaves before
// polkit lets it in after 2 s.
class HelperDaemon : public WholeRoad {
 protected:
  void SetUp() override { startRoad(); }

  std::vector<std::string> polkitAnswers() override {
    for (sd::Bus* bus :
         {&client_, &other_, &beating_, &denied_, &challenged_, &odd_, &slow_, &leaving_}) {
      *bus = system_->connect();
      EXPECT_TRUE(*bus);
    }
    std::vector<std::string> answers;
    for (const auto& [bus, answer] : {std::pair{&denied_, "denied"},
                                      {&challenged_, "challenge"},
                                      {&odd_, "malformed"},
                                      {&slow_, "10"},
                                      {&leaving_, "2"}}) {
      answers.insert(answers.end(), {"--answer", uniqueName(*bus) + "=" + answer});
    }
    return answers;
  }

  // Sends a call that wants no answer.
  static void sendOnly(sd_bus* from, const char* method) {
    ASSERT_GE(sd_bus_call_method_async(from, nullptr, "dev.wexla.helper", "/dev/wexla/helper",
                                       "dev.wexla.HelperProtocol", method, nullptr, nullptr,
                                       *method == 'S' ? "b" : "", 0),
              0);
    ASSERT_GE(sd_bus_flush(from), 0);
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

  sd::Bus client_, other_, beating_, denied_, challenged_, odd_, slow_, leaving_;
};

TEST_F(HelperDaemon, EachCallerHoldsOnItsOwnAndOnlyAPlainYesInTimeLetsItIn) {
  EXPECT_EQ(call("SetDisableSleep"), "true");
  EXPECT_EQ(logind_->readLine(5s), lockedBy(*helper_));
  EXPECT_EQ(call("CurrentDisableSleep"), "true");
  // Another caller's status is its own.
  EXPECT_EQ(call("CurrentDisableSleep", false, other_.get()), "false");
  // Anybody may say that the client left; only the bus is believed.
  ASSERT_TRUE(
      forgeNameLeft(other_.get(), "dev.wexla.helper", uniqueName(client_), uniqueName(client_)));
  EXPECT_EQ(logind_->readLine(1s), std::nullopt) << "a forged signal ended the client's hold";
  EXPECT_EQ(call("CurrentDisableSleep"), "true");
  // Asked about at every call: a refusal is never kept. No answer is no refusal.
  for (const char* method : {"SetDisableSleep", "Heartbeat", "CurrentDisableSleep"}) {
    EXPECT_EQ(call(method, false, denied_.get()), kDenied) << method;
  }
  EXPECT_EQ(call("Heartbeat", true, challenged_.get()), kDenied);
  EXPECT_EQ(call("Heartbeat", true, odd_.get()), kUnchecked);
  // One leaves before its answer comes, another's comes past the helper's limit of 5 s.
  const std::string leaving = uniqueName(leaving_);
  sendOnly(leaving_.get(), "SetDisableSleep");
  leaving_.reset();  // sent, then gone: its question goes with it
  sendOnly(slow_.get(), "SetDisableSleep");
  for (int i = 0; i < 3; ++i) {
    const auto asked = SteadyClock::now();
    EXPECT_EQ(call("Heartbeat"), "true");
    EXPECT_LT(SteadyClock::now() - asked, 100ms) << "a heartbeat waited on polkit";
    EXPECT_EQ(call("Heartbeat", true, beating_.get()), "true");
  }
  // The lock goes with the client's release: heartbeats alone hold nothing.
  EXPECT_EQ(call("SetDisableSleep", false), "true");
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));

  EXPECT_EQ(call("CurrentDisableSleep"), "false");
  EXPECT_EQ(call("SetDisableSleep"), "true");
  EXPECT_EQ(logind_->readLine(5s), lockedBy(*helper_));
  // Hung up on, it lets go first and exits with success.
  const std::string lockGone = releasedBy(*helper_);
  helper_->signal(SIGHUP);
  const ProcessResult stopped = helper_->wait(10s);
  EXPECT_EQ(stopped.exitStatus, 0);
  EXPECT_EQ(logind_->readLine(5s), lockGone);
  // Three refusal lines in a minute, naming the caller, polkit and the action.
  const std::string refused =
      "<3>rejected caller " + uniqueName(denied_) + " (polkit denied dev.wexla.helper.control)\n";
  const std::string refusals = refused + refused + refused;
  EXPECT_EQ(stopped.err,
            kStarted + kEngaged + refusals + kReleased + kEngaged + "<6>released: stopping\n");
  // The helper's action, no details, no interaction; once for each call of a caller that does
  // not hold at that moment, and never kept.
  const std::string client = uniqueName(client_), other = uniqueName(other_),
                    denied = uniqueName(denied_), beating = uniqueName(beating_);
  std::string questions;
  for (const std::string& caller :
       {client, other, denied, denied, denied, uniqueName(challenged_), uniqueName(odd_), leaving,
        uniqueName(slow_), beating, beating, beating, client, client}) {
    questions += "system-bus-name name=" + caller + " dev.wexla.helper.control 0 ''\n";
  }
  EXPECT_EQ(readFile(dir_.path() / "asked"), questions);
}

TEST_F(HelperDaemon, TheLockReturnsWhenLogindLostItAndIsOnlyEverItsOwn) {
  // Answered without starting a second helper beside the first.
  for (const auto& [option, status] : {std::pair{"--help", 0}, {"--version", 0}, {"--bogus", 2}}) {
    const ProcessResult answered = runProcess(
        {WEXLA_HELPER_PATH, option}, {"DBUS_SYSTEM_BUS_ADDRESS=" + system_->address()}, 5s);
    EXPECT_EQ(answered.exitStatus, status) << option;
    EXPECT_EQ((status == 0 ? answered.out : answered.err).substr(0, 13),
              option == std::string("--version") ? "wexla_helper " : "usage: wexla_")
        << option;
  }
  sd_bus_message* raw = nullptr;  // another process's lock under the helper's name
  ASSERT_GE(sd_bus_call_method(client_.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "Inhibit", nullptr, &raw, "ssss",
                               "sleep", "Wexla", "a test", "block"),
            0);
  const sd::Message foreign(raw);
  EXPECT_EQ(logind_->readLine(5s), "inhibit sleep Wexla block " + std::to_string(::getpid()));
  EXPECT_EQ(call("CurrentDisableSleep"), "false");

  EXPECT_EQ(call("SetDisableSleep", true), "true");
  EXPECT_EQ(logind_->readLine(5s), lockedBy(*helper_));
  logind_->signal(SIGUSR1);  // logind forgets the lock while the helper still holds its descriptor
  EXPECT_EQ(logind_->readLine(5s), "dropped");
  EXPECT_EQ(call("CurrentDisableSleep"), "false");
  EXPECT_EQ(call("SetDisableSleep", true), "true");
  EXPECT_EQ(logind_->readLine(5s), lockedBy(*helper_)) << "answered true without a lock";
  client_.reset();  // the last caller holding it gone, it lets go at once
  EXPECT_EQ(logind_->readLine(5s), releasedBy(*helper_));
  // polkit frozen: a caller's calls wait for it, sixteen at most.
  polkit_->signal(SIGSTOP);
  for (int i = 0; i < 16; ++i) sendOnly(other_.get(), "Heartbeat");
  EXPECT_EQ(call("Heartbeat", true, other_.get()), "org.freedesktop.DBus.Error.LimitsExceeded");
  polkit_->signal(SIGCONT);

  // Without its bus nobody can reach it: it ends with a failure, and systemd starts it again.
  system_->stop();
  const ProcessResult ended = helper_->wait(5s);
  EXPECT_EQ(ended.exitStatus, 1);
  EXPECT_EQ(ended.err.substr(0, ended.err.find("<3>")),
            kStarted + kEngaged + kEngaged + "<6>released: the last caller holding it left\n");
  EXPECT_TRUE(ended.err.ends_with("<3>stopping: the connection to the bus was lost\n"))
      << ended.err;
}

}  // namespace
}  // namespace wexla::test
