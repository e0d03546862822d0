#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include "Files.hpp"
#include "PmsetSleepBackend.hpp"
#include "Subprocess.hpp"
#include "TempDir.hpp"

namespace wexla::kit {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using namespace std::chrono_literals;

// Fake pmset programs: shell scripts that record their arguments and do what the test says.
class PmsetSleepBackendTest : public ::testing::Test {
 protected:
  // `body` runs after the arguments were recorded.
  PmsetSleepBackend fake(const std::string& body, std::chrono::milliseconds limit = 5s) {
    const fs::path script = dir_.path() / ("pmset-" + std::to_string(++scripts_));
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << argsFile().string() << "'\n"
                          << body << "\n";
    fs::permissions(script, fs::perms(0755));
    return PmsetSleepBackend(script.string(), limit);
  }
  // A fake that prints `report` (any bytes) and exits with `status`.
  PmsetSleepBackend printing(const std::string& report, int status = 0) {
    const fs::path file = dir_.path() / ("report-" + std::to_string(scripts_));
    std::ofstream(file, std::ios::binary) << report;
    return fake("cat '" + file.string() + "'\nexit " + std::to_string(status));
  }
  fs::path argsFile() const { return dir_.path() / "args"; }

  test::TempDir dir_;
  int scripts_ = 0;
};

TEST_F(PmsetSleepBackendTest, PassesExactlyTheDocumentedArguments) {
  EXPECT_TRUE(printing("").setDisableSleep(true));
  EXPECT_EQ(readFile(argsFile()), "-a\ndisablesleep\n1\n");
  EXPECT_TRUE(printing("").setDisableSleep(false));
  EXPECT_EQ(readFile(argsFile()), "-a\ndisablesleep\n0\n");
  printing("").isDisableSleepOn();
  EXPECT_EQ(readFile(argsFile()), "-g\n");
}

TEST_F(PmsetSleepBackendTest, ChangesSucceedOnlyWithStatusZero) {
  EXPECT_TRUE(printing("anything at all\n", 0).setDisableSleep(true));
  EXPECT_FALSE(printing("", 1).setDisableSleep(true));
  EXPECT_FALSE(printing("", 255).setDisableSleep(false));
  EXPECT_FALSE(fake("kill -9 $$").setDisableSleep(true));
  // Without root privileges pmset prints so and still exits 0.
  EXPECT_FALSE(printing("'pmset' must be run as root...\n", 0).setDisableSleep(true));

  const PmsetSleepBackend missing((dir_.path() / "no-such-tool").string(), 5s);
  EXPECT_FALSE(PmsetSleepBackend(missing).setDisableSleep(true));
  EXPECT_FALSE(PmsetSleepBackend(missing).isDisableSleepOn());
  std::ofstream(dir_.path() / "not-executable") << "#!/bin/sh\necho ' SleepDisabled 1'\n";
  EXPECT_FALSE(
      PmsetSleepBackend((dir_.path() / "not-executable").string(), 5s).setDisableSleep(true));
}

TEST_F(PmsetSleepBackendTest, TheFirstSleepDisabledLineDecides) {
  struct Case {
    std::string report;
    bool on;
  };
  const Case cases[] = {
      {" SleepDisabled\t\t1\n", true},
      {" SleepDisabled\t\t0\n", false},
      {"SleepDisabled 10", true},  // any "1" on the line, last line without a line feed
      {" SleepDisabled 0\n SleepDisabled 1\n", false},
      {"standby 1\n SleepDisabled 0\nsleep 1\n", false},
      {"\n\n SleepDisabled 1\n\n", true},
      {"sleepdisabled 1\n", false},  // the name is case-sensitive
      {"standby 1\nsleep 1\n", false},
      {"", false},
      {"\n\n\n", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PmsetSleepBackend::reportsSleepDisabled(c.report), c.on) << c.report;
  }
  // The report counts even when pmset exits with a failure.
  EXPECT_TRUE(printing(" SleepDisabled 1\n", 3).isDisableSleepOn());
}

TEST_F(PmsetSleepBackendTest, RealisticReports) {
  struct Case {
    const char* file;
    bool on;
  };
  const Case cases[] = {
      {"macbook-air-disabled.txt", true},
      {"macbook-pro-on-battery-enabled.txt", false},
      {"mac-mini-never-set.txt", false},  // the line is absent until the key was first set
      {"two-sleepdisabled-lines-first-decides.txt", false},
  };
  for (const auto& c : cases) {
    const std::string report = readFile(fs::path(WEXLA_KIT_FIXTURES) / "pmset" / c.file);
    ASSERT_FALSE(report.empty()) << c.file;
    EXPECT_EQ(printing(report).isDisableSleepOn(), c.on) << c.file;
  }
}

TEST_F(PmsetSleepBackendTest, OutputThatIsNotUtf8ReadsAsEmpty) {
  EXPECT_FALSE(printing(" SleepDisabled 1\n\xFF\n").isDisableSleepOn());
  EXPECT_FALSE(printing(" SleepDisabled 1 \xC0\x80\n").isDisableSleepOn());
  EXPECT_TRUE(printing(" SleepDisabled 1 \xE2\x80\x94 d\xC3\xA9j\xC3\xA0\n").isDisableSleepOn());
}

TEST_F(PmsetSleepBackendTest, ATalkativeChildCannotDeadlockTheBackend) {
  const PmsetSleepBackend noisy = fake(
      "head -c 3000000 /dev/zero | tr '\\0' x >&2\n"
      "head -c 3000000 /dev/zero | tr '\\0' y\n"
      "echo; echo ' SleepDisabled 1'");
  EXPECT_TRUE(PmsetSleepBackend(noisy).isDisableSleepOn());
}

TEST_F(PmsetSleepBackendTest, AHungChildIsKilledAtTheLimitAndCountsAsAFailure) {
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(fake("echo ' SleepDisabled 1'; exec sleep 30", 300ms).isDisableSleepOn());
  EXPECT_FALSE(fake("exec sleep 30", 300ms).setDisableSleep(true));
  // A child that closes its output and lingers is bounded too.
  EXPECT_FALSE(fake("exec >/dev/null 2>&1; sleep 30", 300ms).setDisableSleep(true));
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

TEST(Subprocess, AChildGetsSIGTERMBackAndASignalAnswersItsNumber) {
  // The helper blocks SIGTERM (Linux) or ignores it (macOS) to let go before it ends.
  sigset_t terminate;
  sigemptyset(&terminate);
  sigaddset(&terminate, SIGTERM);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &terminate, &before);
  const auto disposition = std::signal(SIGTERM, SIG_IGN);
  EXPECT_EQ(runSubprocess("/bin/sh", {"-c", "kill -TERM $$; exit 3"}, 5s).status, SIGTERM);
  std::signal(SIGTERM, disposition);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace
}  // namespace wexla::kit
