#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <optional>

#include "ChildRuns.hpp"
#include "SdBus.hpp"

namespace wexla::base {
namespace {

using namespace std::chrono_literals;

class ChildRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sd_event* event = nullptr;
    ASSERT_GE(sd_event_new(&event), 0);
    event_.reset(event);
  }
  // Turns the loop until `done`, for a few seconds at most.
  void runUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      sd_event_run(event_.get(), 50'000);
    }
  }
  sd::Event event_;
};

// The parent blocks and ignores signals for its own loop, as the application does; its children
// get none of that.
TEST_F(ChildRunsTest, EachRunTellsItsStatusAndOutputWithinItsLimit) {
  sigset_t quit;
  sigset_t before;
  sigemptyset(&quit);
  for (const int number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&quit, number);
  ASSERT_EQ(sigprocmask(SIG_BLOCK, &quit, &before), 0);
  const auto pipeHandler = std::signal(SIGPIPE, SIG_IGN);
  struct Row {
    std::vector<std::string> argv;
    std::chrono::milliseconds limit;
    int status;
    std::string output;
  };
  const Row rows[] = {
      {{"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, 5s, 3, "out\nerr\n"},
      // The standard signals only: the C library keeps its own real-time ones for itself.
      {{"/bin/sh", "-c",
        "exec awk '/^Sig(Blk|Ign)/ { print $1, substr($2, 10) }' /proc/self/status"},
       5s,
       0,
       "SigBlk: 0000000\nSigIgn: 0000000\n"},
      {{"/bin/sh", "-c", "head -c 100000 /dev/zero | tr '\\0' x"},
       5s,
       0,
       std::string(ChildRuns::kKeptOutput, 'x')},
      {{"/bin/sh", "-c", "kill -TERM $$"}, 5s, -1, ""},
      {{"/bin/sleep", "10"}, 200ms, -1, ""},
  };
  for (const Row& row : rows) {
    ChildRuns runs(event_.get(), row.limit);
    std::optional<std::pair<int, std::string>> result;
    ASSERT_TRUE(runs.start(
        row.argv, [&](int status, const std::string& output) { result.emplace(status, output); }));
    runUntil([&] { return result.has_value(); });
    ASSERT_TRUE(result) << row.argv.back();
    EXPECT_EQ(result->first, row.status) << row.argv.back();
    EXPECT_EQ(result->second, row.output) << row.argv.back();
    EXPECT_EQ(runs.size(), 0u);
  }
  std::signal(SIGPIPE, pipeHandler);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  ChildRuns runs(event_.get(), 5s);
  EXPECT_FALSE(runs.start({"/nonexistent/program"}, [](int, const std::string&) { FAIL(); }));
}

TEST_F(ChildRunsTest, WhatStillRunsWhenTheSetGoesIsEndedAndReaped) {
  {
    ChildRuns runs(event_.get(), 60s);
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(runs.start({"/bin/sleep", "30"}, [](int, const std::string&) { FAIL(); }));
    }
    EXPECT_EQ(runs.size(), 3u);
  }
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD) << "a child is left";
}

}  // namespace
}  // namespace wexla::base
