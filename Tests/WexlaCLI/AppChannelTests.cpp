#include <gtest/gtest.h>

#include "AppChannel.hpp"
#include "Entry.hpp"
#include "FakeNotificationCenter.hpp"

namespace wexla::cli {
namespace {

using test::FakeNotificationCenter;
using Calls = std::vector<std::string>;

TEST(AppChannel, FireAndForgetIsAPlainPrefixTest) {
  for (const char* text : {"busy", "busy 10", "busybox", "working", "heartbeat", "heartbeats"}) {
    EXPECT_TRUE(isFireAndForget(text)) << text;
  }
  for (const char* text : {"", "status", " busy", "Busy", "bus", "extend 120", "work"}) {
    EXPECT_FALSE(isFireAndForget(text)) << text;
  }
}

TEST(AppChannel, RequestObservesBeforePostingAndReturnsTheReply) {
  FakeNotificationCenter center;
  center.deliveriesDuringRun = {"holding 2h"};
  EXPECT_EQ(requestReply(center, "extend 120"), "holding 2h");
  EXPECT_EQ(center.calls, (Calls{"addObserver dev.wexla.status", "post dev.wexla.command", "run",
                                 "removeObserver"}));
  EXPECT_EQ(center.posted, Calls{"extend 120"});
  EXPECT_EQ(center.ranFor, 2.0);
  EXPECT_TRUE(center.stopped);
}

TEST(AppChannel, RepliesThatAreNoTextAreIgnoredAndTheLatestTextWins) {
  FakeNotificationCenter center;
  center.deliveriesDuringRun = {std::nullopt, "first", std::nullopt, "second", ""};
  EXPECT_EQ(requestReply(center, "status"), "");

  FakeNotificationCenter onlyObjects;
  onlyObjects.deliveriesDuringRun = {std::nullopt, std::nullopt};
  EXPECT_EQ(requestReply(onlyObjects, "status"), std::nullopt);
  EXPECT_FALSE(onlyObjects.stopped);
}

TEST(AppChannel, AnUnreachableCenterFailsWithoutWaiting) {
  FakeNotificationCenter center;
  center.reachable = false;
  EXPECT_EQ(requestReply(center, "status"), std::nullopt);
  EXPECT_EQ(center.calls, Calls{"addObserver dev.wexla.status"});
}

TEST(AppChannel, NoReplyMessageIsTheExactBytes) {
  EXPECT_EQ(noReplyMessage.size(), 54u);
  EXPECT_EQ(noReplyMessage,
            "Wexla kh\xC3\xB4ng ph\xE1\xBA\xA3n h\xE1\xBB\x93i \xE2\x80\x94 app "
            "\xC4\x91"
            "ang ch\xE1\xBA\xA1y ch\xE1\xBB\xA9?\n");
}

// The entry over a fake center that outlives the run, so the test can look at it afterwards.
FakeNotificationCenter* lastCenter = nullptr;
std::vector<std::optional<std::string>> scriptedReplies;

class ForwardingCenter final : public NotificationCenter {
 public:
  explicit ForwardingCenter(FakeNotificationCenter& fake) : fake_(fake) {}
  bool addObserver(std::string_view name, Handler handler) override {
    return fake_.addObserver(name, std::move(handler));
  }
  void removeObserver() override { fake_.removeObserver(); }
  bool post(std::string_view name, std::string_view object) override {
    return fake_.post(name, object);
  }
  void run(double seconds) override { fake_.run(seconds); }
  void stop() override { fake_.stop(); }

 private:
  FakeNotificationCenter& fake_;
};

std::unique_ptr<NotificationCenter> makeFake() {
  static std::vector<std::unique_ptr<FakeNotificationCenter>> centers;
  centers.push_back(std::make_unique<FakeNotificationCenter>());
  lastCenter = centers.back().get();
  lastCenter->deliveriesDuringRun = scriptedReplies;
  return std::make_unique<ForwardingCenter>(*lastCenter);
}

TEST(Entry, UsageWithoutTouchingTheCenter) {
  for (const auto& args : {Calls{}, Calls{"help"}, Calls{"--help", "on"}, Calls{"-h"}}) {
    lastCenter = nullptr;
    const Outcome outcome = runCommand(args, &makeFake);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, std::string(usage) + "\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(lastCenter, nullptr);
  }
}

TEST(Entry, FireAndForgetPostsOnlyAndPrintsNothing) {
  scriptedReplies = {"would be ignored"};
  const Outcome outcome = runCommand({"busy", "10"}, &makeFake);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, "");
  ASSERT_NE(lastCenter, nullptr);
  EXPECT_EQ(lastCenter->calls, Calls{"post dev.wexla.command"});
  EXPECT_EQ(lastCenter->posted, Calls{"busy 10"});
}

TEST(Entry, RequestPrintsTheReplyOrTheNoReplyMessage) {
  scriptedReplies = {"on until 18:00"};
  Outcome outcome = runCommand({"2h"}, &makeFake);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "on until 18:00\n");
  EXPECT_EQ(lastCenter->posted, Calls{"extend 120"});

  scriptedReplies = {};
  outcome = runCommand({"status"}, &makeFake);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, "");
  EXPECT_EQ(outcome.err, noReplyMessage);
}

}  // namespace
}  // namespace wexla::cli
