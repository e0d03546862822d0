#include <gtest/gtest.h>
#include <signal.h>

#include <csignal>

#include "Files.hpp"
#include "PmsetSleepBackend.hpp"
#include "TempDir.hpp"

namespace wexla::kit {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(PmsetSleepBackend, TheFirstSleepDisabledLineOfTheReportDecides) {
  // clang-format off
  const std::pair<std::string, bool> cases[] = {
      {" SleepDisabled\t\t1\n", true},  // as pmset -g prints it
      {" SleepDisabled\t\t0\n", false},
      {"SleepDisabled 10", true},  // any "1" on the line, the last line without a line feed
      {" SleepDisabled 0\n SleepDisabled 1\n", false},
      {"sleep 1\n\n SleepDisabled 1\n", true},
      {"sleepdisabled 1\n", false},
      {"standby 1\nsleep 1\n", false},  // the line is absent until the key was first set
  };
  // clang-format on
  for (const auto& [report, on] : cases) {
    EXPECT_EQ(PmsetSleepBackend::reportsSleepDisabled(report), on) << report;
  }
}

// Stand-ins for pmset: shell scripts that record their arguments, then run the row's commands.
TEST(PmsetSleepBackend, OnlyAPlainSuccessCountsAndAChildIsBoundedInTimeAndInheritance) {
  const test::TempDir dir;
  EXPECT_FALSE(PmsetSleepBackend((dir.path() / "none").string(), 1s).setDisableSleep(true));
  // The helper blocks and ignores SIGTERM to let go on it; its children get it back.
  sigset_t terminate, before;
  sigemptyset(&terminate);
  sigaddset(&terminate, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &terminate, &before);
  const auto disposition = std::signal(SIGTERM, SIG_IGN);
  enum Op { read, off, on };
  struct Row {
    const char* body;
    Op op;
    bool answer;
  };
  // clang-format off
  const Row rows[] = {
      {"exit 0",                                                       on,   true},
      {"exit 0",                                                       off,  true},
      {"exit 1",                                                       on,   false},
      {"kill -KILL $$",                                                on,   false},
      {"echo \"'pmset' must be run as root...\"",                      on,   false},  // exits 0
      {"echo ' SleepDisabled 1'; exit 3",                              read, true},
      {"kill -TERM $$; echo ' SleepDisabled 1'",                       read, false},
      {"head -c 3000000 /dev/zero | tee /dev/stderr; echo; echo ' SleepDisabled 1'", read, true},
      {"echo ' SleepDisabled 1'; exec sleep 5",                        read, false},  // killed
      {"exec >/dev/null 2>&1; exec sleep 5",                           on,   false},
      {"sleep 2 >/dev/null 2>&1 & echo ' SleepDisabled 1'",            read, true},
      {"printf ' SleepDisabled 1\\n\\377\\n'",                         read, false},  // not UTF-8
      {"printf ' SleepDisabled 1 \\300\\200\\n'",                      read, false},
      {"printf ' SleepDisabled 1 \\342\\200\\224 d\\303\\251j\\303\\240\\n'", read, true},
  };
  // clang-format on
  const auto started = std::chrono::steady_clock::now();
  for (const Row& row : rows) {
    const fs::path script = dir.path() / "pmset", args = dir.path() / "args";
    test::writeFile(script,
                    "#!/bin/sh\nprintf '%s\\n' \"$@\" >'" + args.string() + "'\n" + row.body);
    fs::permissions(script, fs::perms(0755));
    PmsetSleepBackend backend(script.string(), 1s);
    EXPECT_EQ(row.op == read ? backend.isDisableSleepOn() : backend.setDisableSleep(row.op == on),
              row.answer)
        << row.body;
    EXPECT_EQ(test::readFile(args), row.op == read ? "-g\n"
                                    : row.op == on ? "-a\ndisablesleep\n1\n"
                                                   : "-a\ndisablesleep\n0\n");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
  std::signal(SIGTERM, disposition);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace
}  // namespace wexla::kit
