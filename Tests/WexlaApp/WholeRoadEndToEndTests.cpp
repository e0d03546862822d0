// The whole road on private buses: the built wexlactl, wexla and wexla_helper, with stand-ins for
// logind and polkit. The helper's lock shows as lines of the stand-in logind.
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>
#include <tuple>

#include "Files.hpp"
#include "WholeRoad.hpp"

namespace wexla::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Just under the bus's limit of 128 MiB a message, so that a reply quoting it whole would be past
// it. Under AddressSanitizer a smaller one: libsystemd grows its read buffer by realloc, which
// the sanitizer always copies, so reading the whole text would take minutes.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kHugeText = 8 << 20;
#else
constexpr std::size_t kHugeText = 134'217'478;
#endif

const std::string kOnLine = "on — giữ máy thức tới khi tắt / holding until off";
const std::string kUnchecked =
    " ⚠ helper chưa kiểm tra được quyền — đang thử lại / the helper could not check permission — "
    "retrying";
const std::string kUnreachable =
    " ⚠ helper không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep";

// A process hold on the whole road is wexlactl run's (RunCommand.HeldWhileTheCommandRuns).
TEST_F(WholeRoad, HoldsAreBackedByTheHelperUntilTheyEnd) {
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));

  // Heartbeats keep the lock past the helper's 15–20 s; the agent's texts are never answered.
  BusRecorder replies(*session_, "dev.wexla.status");
  EXPECT_EQ(wexlactl({"busy"}), "");
  EXPECT_EQ(wexlactl({"heartbeat", "5"}), "");
  EXPECT_EQ(replies.texts(1, 500ms).size(), 0u);
  EXPECT_EQ(logind_->readLine(21s), std::nullopt) << "let go while the application held on";
  const std::string json = wexlactl({"status", "json"});
  EXPECT_TRUE(json.starts_with(R"({"held": true, "holds": [{"kind": "manual", "until": null}, )"
                               R"({"kind": "agent", "until": ")") &&
              json.ends_with(R"("}], "helper": "ok"})"
                             "\n"))
      << json;
  EXPECT_EQ(replies.texts(1, 1s), std::vector<std::string>{json.substr(0, json.size() - 1)});

  // A second application leaves the first one in charge.
  const ProcessResult second = runProcess({WEXLA_APP_PATH}, environment(), 5s);
  EXPECT_EQ(second.exitStatus, 1);
  EXPECT_EQ(second.err, "Wexla is already running\n");
  // Its options are answered before anything starts: no second application tries the bus.
  for (const auto& [option, status] : {std::pair{"--help", 0}, {"--version", 0}, {"-x", 2}}) {
    EXPECT_EQ(runProcess({WEXLA_APP_PATH, option}, environment(), 5s).exitStatus, status) << option;
  }

  // Stopping the application lets go at once.
  app_->signal(SIGTERM);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));
  EXPECT_EQ(app_->wait(5s).exitStatus, 0);
}

TEST_F(WholeRoad, TheApplicationWarnsWhileTheHelperIsGoneAndHoldsAgainWhenItIsBack) {
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));
  // Any peer can send the application the bus's signal that the helper left: not believed.
  const std::string asked = readFile(dir_.path() / "asked");  // polkit, about the application
  const std::size_t from = asked.find('=') + 1;
  const std::string app = asked.substr(from, asked.find(' ', from) - from);
  ASSERT_TRUE(forgeNameLeft(system_->connect().get(), app, "dev.wexla.helper", ":1.1"));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(wexlactl({"status"}), kOnLine + "\n");

  helper_->signal(SIGKILL);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));
  EXPECT_EQ(statusUntil(kOnLine + kUnreachable + "\n", 6s), kOnLine + kUnreachable + "\n");

  // Asked again as soon as the helper's name has an owner, not at the next retry 30 s on.
  startHelper();
  const auto back = SteadyClock::now();
  EXPECT_EQ(logind_->readLine(5s), lockedBy(*helper_));
  EXPECT_LT(SteadyClock::now() - back, 2s);
  EXPECT_EQ(wexlactl({"status"}), kOnLine + "\n");

  // polkit frozen: the helper gets no answer about a new hold, and that is no refusal.
  EXPECT_EQ(wexlactl({"off"}), "off — không giữ máy thức / not holding\n");
  polkit_->signal(SIGSTOP);
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(statusUntil(kOnLine + kUnchecked + "\n", 8s), kOnLine + kUnchecked + "\n");
  EXPECT_TRUE(wexlactl({"status", "json"}).ends_with("\"helper\": \"unchecked\"}\n"));
  polkit_->signal(SIGCONT);
}

// A restarted system bus is reached again at its address, as on a real system.
TEST_F(WholeRoad, TheApplicationHoldsAgainAfterTheSystemBusRestarts) {
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));
  const auto restarted = SteadyClock::now();
  system_->restart();
  startSystemServices();
  startHelper();
  EXPECT_EQ(logind_->readLine(10s), lockedBy(*helper_));
  EXPECT_LT(SteadyClock::now() - restarted, 5s);
}

// The bus itself denies the calls (the helper's policy went with its package): a helper that
// cannot be reached, not a refusal to look for in polkit's rules.
class WholeRoadWithoutPolicy : public WholeRoad {
  void SetUp() override {
    policy_ = PrivateBus::HelperPolicy::ownerOnly;
    WholeRoad::SetUp();
  }
};

TEST_F(WholeRoadWithoutPolicy, ACallTheBusDeniesIsAHelperNotThere) {
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(statusUntil(kOnLine + kUnreachable + "\n", 5s), kOnLine + kUnreachable + "\n");
}

// A process that ended unseen and a new one given its number: the hold follows the new process.
TEST_F(WholeRoad, AReusedProcessNumberHoldsForItsNewProcess) {
  if (::geteuid() != 0) GTEST_SKIP() << "choosing the next process number needs root";
  ChildProcess first({"/bin/sleep", "60"}, {});
  const std::string pid = std::to_string(first.pid());
  const std::string holding =
      "while — giữ khi tiến trình " + pid + " còn chạy / holding while process " + pid + " runs\n";
  EXPECT_EQ(wexlactl({"while", pid}), holding);
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));
  app_->signal(SIGSTOP);
  const auto stopped = [&] {
    std::ifstream stat("/proc/" + std::to_string(app_->pid()) + "/stat");
    const std::string line{std::istreambuf_iterator<char>(stat), {}};
    return line.find(") T ") != std::string::npos;
  };
  for (int i = 0; i < 100 && !stopped(); ++i) std::this_thread::sleep_for(10ms);
  first.signal(SIGKILL);
  first.wait(5s);
  std::unique_ptr<ChildProcess> second;
  for (int attempt = 0; attempt < 10 && (!second || second->pid() != first.pid()); ++attempt) {
    std::ofstream("/proc/sys/kernel/ns_last_pid") << first.pid() - 1;
    second = std::make_unique<ChildProcess>(std::vector<std::string>{"/bin/sleep", "60"},
                                            std::vector<std::string>{});
  }
  ASSERT_EQ(second->pid(), first.pid()) << "another process took the number each time";
  post({"while " + pid});  // waits with the end of the first, for the stopped application
  std::this_thread::sleep_for(200ms);  // for the bus to hand it on
  app_->signal(SIGCONT);
  EXPECT_EQ(logind_->readLine(2s), std::nullopt);
  EXPECT_EQ(wexlactl({"status"}), holding.substr(0, holding.size() - 1) + "\n");
}

// What any process of the user can send: a text past what a reply can carry, a burst of changes,
// a dead process. None of it costs a hold, and the helper link stays sound.
TEST_F(WholeRoad, HostileTextsAndBurstsLoseNoHold) {
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));

  flood({std::string(kHugeText, 'x')});
  EXPECT_EQ(wexlactl({"status"}), kOnLine + "\n");

  std::vector<std::string> burst;
  for (int i = 0; i < 300; ++i) burst.insert(burst.end(), {"on", "off"});
  burst.emplace_back("on");
  const auto posted = SteadyClock::now();
  flood(burst);
  std::string json;
  while (SteadyClock::now() - posted < 3s && json.find(R"("helper": "ok")") == std::string::npos) {
    json = wexlactl({"status", "json"});
  }
  EXPECT_NE(json.find(R"("helper": "ok")"), std::string::npos) << json;
  EXPECT_LE(locksSeen(1s), 40u);  // a few dozen at most, not one for each "on"

  ChildProcess ended({"/bin/true"}, {});  // not reaped: a zombie
  std::this_thread::sleep_for(200ms);
  const std::string pid = std::to_string(ended.pid());
  EXPECT_EQ(wexlactl({"while", pid}), "không có tiến trình " + pid + " / no process " + pid + "\n");

  app_->signal(SIGHUP);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));
  EXPECT_EQ(app_->wait(5s).exitStatus, 0);
}

// A reader of the replies that falls behind, and the bus stops taking the application's replies:
// those waiting for it are bounded, the oldest dropped, and the last still arrives.
TEST_F(WholeRoad, RepliesTheBusCannotTakeWaitBoundedAndTheLastArrives) {
  const PrivateBus slow = PrivateBus::slowSession(dir_.path(), 256 * 1024);
  std::vector<std::string> env = environment();
  env[2] = "DBUS_SESSION_BUS_ADDRESS=" + slow.address();
  ChildProcess app({WEXLA_APP_PATH}, env);
  ASSERT_TRUE(slow.waitForName("dev.wexla.app", 10s));
  BusRecorder replies(slow, "dev.wexla.status");  // reads only when asked
  std::vector<std::string> texts;
  constexpr std::size_t kTexts = 600;  // each answered with 64 KiB: more than the bus holds
  for (std::size_t i = 0; i < kTexts; ++i) {
    texts.push_back("while " + std::to_string(i + 1) + std::string(35'000, '9'));
  }
  // Open until the bus has read every text: it reads them only as fast as the application takes
  // them, and once they are read, the application has all but the last few.
  const sd::Bus poster = slow.connect();
  post(texts, poster.get());
  int unread = 1;
  for (const auto until = SteadyClock::now() + 30s; unread > 0 && SteadyClock::now() < until;
       std::this_thread::sleep_for(50ms)) {
    ASSERT_EQ(::ioctl(sd_bus_get_fd(poster.get()), SIOCOUTQ, &unread), 0);
  }
  std::this_thread::sleep_for(1s);
  for (std::size_t seen = 0, now = 0; (now = replies.texts(seen + 1, 2s).size()) > seen;) {
    seen = now;
  }
  const std::vector<std::string>& got = replies.texts(0, 0ms);
  EXPECT_LT(got.size(), kTexts);
  ASSERT_FALSE(got.empty());
  EXPECT_TRUE(got.back().starts_with("không có tiến trình " + std::to_string(kTexts) + "9"))
      << got.size() << " replies, the last: " << got.back().substr(0, 40);
  // A number past any process, quoted twice, would make a reply of 70 KiB: cut to 64 KiB.
  EXPECT_LE(got.back().size(), 64u * 1024 + std::string("…").size());
  EXPECT_TRUE(got.back().ends_with("…"));
}

// Whatever lies at the settings path, the application starts at once with the defaults and says
// why in one line.
TEST_F(WholeRoad, UnusableSettingsFilesGiveTheDefaults) {
  stopApp();
  const std::filesystem::path config = dir_.path() / ".config" / "wexla";
  const std::filesystem::path settings = config / "settings.json";
  const auto deep = [](std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  const std::string notAFile = "it is not a regular file";
  const std::vector<std::tuple<std::string, std::function<void()>, std::string>> cases = {
      {"a directory", [&] { std::filesystem::create_directories(settings); }, notAFile},
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0); }, notAFile},
      {"a link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", settings); },
       notAFile},
      {"a 1,000,000-deep array", [&] { std::ofstream(settings) << deep(1'000'000); },
       "it is larger than 64 KiB"},
      {"a 30,000-deep array", [&] { std::ofstream(settings) << deep(30'000); },
       "it is nested more than 32 levels deep"},
  };
  for (const auto& [what, make, why] : cases) {
    SCOPED_TRACE(what);
    std::filesystem::remove_all(config);
    std::filesystem::create_directories(config);
    make();
    ChildProcess app({WEXLA_APP_PATH}, environment());
    const auto started = SteadyClock::now();
    EXPECT_TRUE(session_->waitForName("dev.wexla.app", 2s));
    EXPECT_EQ(wexlactl({"status"}), "off — không giữ máy thức / not holding\n");
    EXPECT_LT(SteadyClock::now() - started, 2s);
    app.signal(SIGTERM);
    const std::string log = app.wait(5s).err;
    const std::size_t named = log.find(settings.string() + ": " + why + ";");
    EXPECT_NE(named, std::string::npos) << log;
    EXPECT_EQ(log.find(settings.string(), named + 1), std::string::npos) << log;
  }
}

// Under the usual soft limit of 1,024 descriptors, every live process is held all the same.
TEST_F(WholeRoad, ManyProcessesAreHeldPastTheDescriptorLimit) {
  stopApp();
  ChildProcess app({"/usr/bin/prlimit", "--nofile=1024:1024", WEXLA_APP_PATH}, environment());
  ASSERT_TRUE(session_->waitForName("dev.wexla.app", 10s));
  ChildProcess sleepers(
      {"/bin/sh", "-c", "for i in $(seq 1100); do sleep 60 & echo $!; done; wait"},
      {"PATH=/usr/bin:/bin"});
  // The sleepers outlive their shell: each is ended however the test ends.
  struct Sleepers {
    std::vector<pid_t> pids;
    ~Sleepers() {
      for (const pid_t pid : pids) ::kill(pid, SIGKILL);
    }
  } sleeping;
  std::vector<std::string> texts;
  while (sleeping.pids.size() < 1100) {
    const auto line = sleepers.readLine(10s);
    ASSERT_TRUE(line);
    sleeping.pids.push_back(std::stoi(*line));
    texts.push_back("while " + *line);
  }
  flood(texts);
  const std::string json = wexlactl({"status", "json"});
  const std::size_t list = json.find(R"("pids": [)");
  ASSERT_NE(list, std::string::npos) << json.substr(0, 200);
  EXPECT_EQ(std::count(json.begin() + static_cast<std::ptrdiff_t>(list),
                       json.begin() + static_cast<std::ptrdiff_t>(json.find(']', list)), ','),
            1100 - 1);
}

}  // namespace
}  // namespace wexla::test
