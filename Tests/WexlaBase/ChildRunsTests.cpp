#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <optional>

#include "ChildRuns.hpp"
#include "SdBus.hpp"

namespace wexla::base {
namespace {

using namespace std::chrono_literals;

// Each run tells its status and output within its limit. The test blocks and ignores signals for
// itself, as the application does for its loop: its children get none of that.
TEST(ChildRuns, EachRunTellsItsStatusAndOutputWithinItsLimit) {
  sd_event* raw = nullptr;
  ASSERT_GE(sd_event_new(&raw), 0);
  const sd::Event event(raw);
  sigset_t quit;
  sigset_t before;
  sigemptyset(&quit);
  for (const int number : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&quit, number);
  ASSERT_EQ(sigprocmask(SIG_BLOCK, &quit, &before), 0);
  const auto pipeHandler = ::signal(SIGPIPE, SIG_IGN);
  const std::tuple<std::vector<std::string>, std::chrono::milliseconds, int, std::string> rows[] = {
      {{"/bin/sh", "-c", "echo out; echo err >&2; exit 3"}, 5s, 3, "out\nerr\n"},
      // The standard signals only: the C library keeps its own real-time ones to itself.
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
  for (const auto& [argv, limit, status, output] : rows) {
    ChildRuns runs(event.get(), limit);
    std::optional<std::pair<int, std::string>> result;
    ASSERT_TRUE(runs.start(argv, [&](int s, const std::string& o) { result.emplace(s, o); }));
    for (const auto until = std::chrono::steady_clock::now() + 5s;
         !result && std::chrono::steady_clock::now() < until;) {
      sd_event_run(event.get(), 50'000);
    }
    EXPECT_EQ(result, std::make_pair(status, output)) << argv.back();
    EXPECT_EQ(runs.size(), 0u);
  }
  ::signal(SIGPIPE, pipeHandler);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  ChildRuns runs(event.get(), 5s);
  EXPECT_FALSE(runs.start({"/nonexistent/program"}, [](int, const std::string&) { FAIL(); }));
}

TEST(ChildRuns, WhatStillRunsWhenTheSetGoesIsEndedAndReaped) {
  sd_event* raw = nullptr;
  ASSERT_GE(sd_event_new(&raw), 0);
  const sd::Event event(raw);
  {
    ChildRuns runs(event.get(), 60s);
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(runs.start({"/bin/sleep", "30"}, [](int, const std::string&) { FAIL(); }));
    }
  }
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD) << "a child is left";
}

}  // namespace
}  // namespace wexla::base
