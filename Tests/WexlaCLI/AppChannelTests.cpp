#include <gtest/gtest.h>

#include "AppChannel.hpp"
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

}  // namespace
}  // namespace wexla::cli
