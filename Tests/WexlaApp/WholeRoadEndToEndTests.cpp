// The whole road on private buses: the built wexlactl, wexla and wexla_helper, with stand-ins for
// logind and polkit. The helper's lock shows as lines of the stand-in logind.
#include <gtest/gtest.h>
#include <signal.h>
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

#include "ChildProcess.hpp"
#include "PrivateBus.hpp"
#include "TempDir.hpp"

namespace wexla::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

const std::string kOnLine = "on — giữ máy thức tới khi tắt / holding until off";
const std::string kUnreachable =
    " ⚠ helper không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep";

class WholeRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = std::make_unique<PrivateBus>(PrivateBus::session());
    system_ = std::make_unique<PrivateBus>(
        PrivateBus::systemLike(dir_.path(), PrivateBus::HelperPolicy::included));
    startSystemServices();
    startHelper();
    app_ = start({WEXLA_APP_PATH});
    ASSERT_TRUE(session_->waitForName("dev.wexla.app", 10s));
  }

  std::vector<std::string> environment() const {
    return {"PATH=/usr/bin:/bin", "HOME=" + dir_.path().string(),
            "DBUS_SESSION_BUS_ADDRESS=" + session_->address(),
            "DBUS_SYSTEM_BUS_ADDRESS=" + system_->address()};
  }
  std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv) const {
    return std::make_unique<ChildProcess>(argv, environment());
  }

  // Posts command texts as wexlactl would, without waiting: as fast as a flood comes.
  void post(const std::vector<std::string>& texts) const {
    const sd::Bus bus = session_->connect();
    ASSERT_TRUE(bus);
    for (const std::string& text : texts) {
      ASSERT_GE(sd_bus_emit_signal(bus.get(), "/dev/wexla/DistributedNotificationCenter",
                                   "dev.wexla.DistributedNotificationCenter", "Notification", "ss",
                                   "dev.wexla.command", text.c_str()),
                0);
    }
    ASSERT_GE(sd_bus_flush(bus.get()), 0);
  }

  // Posts a flood and waits until its replies stop coming, so none is taken for a later one's.
  void flood(const std::vector<std::string>& texts) const {
    BusRecorder replies(*session_, "dev.wexla.status");
    post(texts);
    for (std::size_t seen = 0; seen == 0 || replies.texts(seen + 1, 500ms).size() > seen;) {
      seen = replies.texts(std::max<std::size_t>(seen, 1), 10s).size();
    }
  }

  // Ends the application of SetUp; the caller starts its own.
  void stopApp() {
    app_->signal(SIGTERM);
    app_->wait(5s);
  }

  // The lines the stand-in logind printed within `limit`.
  std::size_t locksSeen(std::chrono::milliseconds limit) const {
    std::size_t lines = 0;
    while (logind_->readLine(limit)) ++lines;
    return lines;
  }

  void startSystemServices() {
    logind_ = start({WEXLA_FAKE_LOGIND_PATH});
    ASSERT_EQ(logind_->readLine(10s), "ready");
    polkit_ = start({WEXLA_FAKE_POLKIT_PATH, "--record", (dir_.path() / "asked").string()});
    ASSERT_EQ(polkit_->readLine(10s), "ready");
  }

  void startHelper() {
    helper_ = start({WEXLA_HELPER_PATH});
    ASSERT_TRUE(system_->waitForName("dev.wexla.helper", 10s));
  }

  std::string wexlactl(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{WEXLACTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult result =
        runProcess(argv, {"DBUS_SESSION_BUS_ADDRESS=" + session_->address()}, 10s);
    EXPECT_EQ(result.err, "");
    return result.out;
  }

  std::string lockedBy(const ChildProcess& helper) const {
    return "inhibit sleep:handle-lid-switch Wexla block " + std::to_string(helper.pid());
  }
  std::string releasedBy(const ChildProcess& helper) const {
    return "released Wexla " + std::to_string(helper.pid());
  }

  TempDir dir_;
  std::unique_ptr<PrivateBus> session_;
  std::unique_ptr<PrivateBus> system_;
  std::unique_ptr<ChildProcess> logind_;
  std::unique_ptr<ChildProcess> polkit_;
  std::unique_ptr<ChildProcess> helper_;
  std::unique_ptr<ChildProcess> app_;
};

TEST_F(WholeRoad, HoldsAreBackedByTheHelperUntilTheyEnd) {
  // A process hold lets go when its process ends.
  ChildProcess sleeper({"/bin/sleep", "60"}, {});
  EXPECT_EQ(wexlactl({"while", std::to_string(sleeper.pid())}),
            "while — giữ khi tiến trình " + std::to_string(sleeper.pid()) +
                " còn chạy / holding while process " + std::to_string(sleeper.pid()) + " runs\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));
  sleeper.signal(SIGKILL);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));

  const auto asked = SteadyClock::now();
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));
  EXPECT_LT(SteadyClock::now() - asked, 1s);

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

  // Stopping the application lets go at once.
  app_->signal(SIGTERM);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));
  EXPECT_EQ(app_->wait(5s).exitStatus, 0);
}

TEST_F(WholeRoad, TheApplicationWarnsWhileTheHelperIsGoneAndHoldsAgainWhenItIsBack) {
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));

  const auto killed = SteadyClock::now();
  helper_->signal(SIGKILL);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));
  std::string status;
  while (SteadyClock::now() - killed < 6s && status != kOnLine + kUnreachable + "\n") {
    std::this_thread::sleep_for(100ms);
    status = wexlactl({"status"});
  }
  EXPECT_EQ(status, kOnLine + kUnreachable + "\n");

  startHelper();
  EXPECT_EQ(logind_->readLine(32s), lockedBy(*helper_));
  EXPECT_LT(SteadyClock::now() - killed, 32s);
  EXPECT_EQ(wexlactl({"status"}), kOnLine + "\n");
}

// A restarted system bus is reached again at its address, as on a real system.
TEST_F(WholeRoad, TheApplicationHoldsAgainAfterTheSystemBusRestarts) {
  EXPECT_EQ(wexlactl({"on"}), kOnLine + "\n");
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));
  const auto restarted = SteadyClock::now();
  system_->restart();
  startSystemServices();
  startHelper();
  EXPECT_EQ(logind_->readLine(32s), lockedBy(*helper_));
  EXPECT_LT(SteadyClock::now() - restarted, 32s);
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

  flood({std::string(134'217'478, 'x')});
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
  EXPECT_LE(locksSeen(1s), 40u);  // each lock and its release: a few dozen at most

  ChildProcess ended({"/bin/true"}, {});  // not reaped: a zombie
  std::this_thread::sleep_for(200ms);
  const std::string pid = std::to_string(ended.pid());
  EXPECT_EQ(wexlactl({"while", pid}), "không có tiến trình " + pid + " / no process " + pid + "\n");

  app_->signal(SIGHUP);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));
  EXPECT_EQ(app_->wait(5s).exitStatus, 0);
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
  const std::vector<std::pair<std::string, std::function<void()>>> cases = {
      {"a directory", [&] { std::filesystem::create_directories(settings); }},
      {"a FIFO", [&] { ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0); }},
      {"a link to /dev/zero", [&] { std::filesystem::create_symlink("/dev/zero", settings); }},
      {"a 1,000,000-deep array", [&] { std::ofstream(settings) << deep(1'000'000); }},
      {"a 30,000-deep array", [&] { std::ofstream(settings) << deep(30'000); }},
  };
  for (const auto& [what, make] : cases) {
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
    const std::size_t named = log.find(settings.string() + ": ");
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
