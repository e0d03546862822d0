// The built wexlactl against a private session bus, with the real application where it answers,
// and a stand-in for what the application never does (a late, empty or non-text reply, two).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "BusRecorder.hpp"
#include "ChildProcess.hpp"
#include "CommandTextExamples.hpp"
#include "Files.hpp"
#include "PrivateBus.hpp"
#include "TempDir.hpp"

namespace wexla::test {
namespace {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

const std::string kNoReply =
    "Wexla kh\xC3\xB4ng ph\xE1\xBA\xA3n h\xE1\xBB\x93i \xE2\x80\x94 app \xC4\x91"
    "ang ch\xE1\xBA\xA1y ch\xE1\xBB\xA9?\n";

// A socket that takes connections into its backlog and never says a word: a hung bus.
class SilentSocket {
 public:
  explicit SilentSocket(const std::filesystem::path& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 16) != 0) {
      throw std::runtime_error("cannot listen on " + path.string());
    }
  }
  ~SilentSocket() { ::close(fd_); }

 private:
  int fd_ = -1;
};

class Wexlactl : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<PrivateBus>(PrivateBus::session());
    commands_ = std::make_unique<BusRecorder>(*bus_, "dev.wexla.command");
  }

  // The real application, kept away from any helper of the machine it runs on.
  void startApp() {
    app_ = std::make_unique<ChildProcess>(Args{WEXLA_APP_PATH}, environment(bus_->address()));
    ASSERT_TRUE(bus_->waitForName("dev.wexla.app", 10s));
  }

  void startStandIn(Args options) {
    Args argv{WEXLA_STANDIN_APP_PATH};
    argv.insert(argv.end(), options.begin(), options.end());
    app_ = std::make_unique<ChildProcess>(argv, environment(bus_->address()));
    ASSERT_EQ(app_->readLine(10s), "ready");
  }

  std::vector<std::string> environment(const std::string& busAddress) const {
    std::vector<std::string> env{
        "PATH=/usr/bin:/bin", "HOME=" + home_.path().string(), "LANG=C.UTF-8",
        "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (home_.path() / "no-system-bus").string()};
    if (!busAddress.empty()) env.push_back("DBUS_SESSION_BUS_ADDRESS=" + busAddress);
    return env;
  }

  ProcessResult run(const Args& args) { return runWith(args, bus_->address()); }

  ProcessResult runWith(const Args& args, const std::string& busAddress) {
    Args argv{WEXLACTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, environment(busAddress), 20s);
  }

  // The command texts posted so far, once there are `count` of them.
  Args received(std::size_t count) { return commands_->texts(count, 10s); }

  TempDir home_;
  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<BusRecorder> commands_;
  std::unique_ptr<ChildProcess> app_;
};

TEST_F(Wexlactl, UsageAndHookWordsPostNothing) {
  const std::string expected = readFile(WEXLA_FIXTURES "/usage.txt");
  for (const Args& args : {Args{}, Args{"help"}, Args{"-h"}, Args{"--help"}, Args{"help", "status"},
                           Args{"-h", "2h", "now"}}) {
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
  }
  // A hook word is carried out here and never reaches the application.
  const ProcessResult hook = run({"install-claude-hooks"});
  EXPECT_EQ(hook.exitStatus, 0);
  EXPECT_LT(hook.elapsed, 1.5s);
  // A marker posted afterwards is the first thing the application sees.
  EXPECT_EQ(run({"busy"}).exitStatus, 0);
  EXPECT_EQ(received(1), Args{"busy"});
}

TEST_F(Wexlactl, EachCommandArrivesAsItsCommandText) {
  startApp();
  std::vector<std::pair<Args, std::string>> cases = {
      {{"Install-Claude-Hooks"}, "Install-Claude-Hooks"},
      {{"now", "install-codex-hooks"}, "now install-codex-hooks"},
      {{"\xFF", "a\xC3"}, "\xEF\xBF\xBD a\xEF\xBF\xBD"},  // ill-formed bytes become U+FFFD
  };
  for (const auto& [args, text] : kCommandTextExamples) {
    if (text) cases.emplace_back(args, *text);
  }
  Args expected;
  for (const auto& [args, text] : cases) {
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exitStatus, 0) << text;
    expected.push_back(text);
    // Ordering is kept by waiting for each text before sending the next.
    EXPECT_EQ(received(expected.size()), expected);
  }
}

TEST_F(Wexlactl, FireAndForgetReturnsAtOnceSilentlyWhateverTheBus) {
  const Args words[] = {{"busy"}, {"busy", "10"}, {"working"}, {"heartbeat"}, {"busybox"}};
  const auto expectSilentSuccess = [&](const std::string& busAddress, const char* setting) {
    for (const Args& args : words) {
      const ProcessResult result = runWith(args, busAddress);
      EXPECT_EQ(result.exitStatus, 0) << setting << ": " << args[0];
      EXPECT_EQ(result.out, "") << setting;
      EXPECT_EQ(result.err, "") << setting;
      EXPECT_LT(result.elapsed, 1.5s) << setting << ": " << args[0];  // no reply wait
    }
  };

  expectSilentSuccess(bus_->address(), "no application");
  startApp();
  expectSilentSuccess(bus_->address(), "application running");
  EXPECT_EQ(received(5), (Args{"busy", "busy 10", "working", "heartbeat", "busybox"}));

  expectSilentSuccess("", "no bus address");
  expectSilentSuccess("unix:path=" + (home_.path() / "missing").string(), "missing socket");
  expectSilentSuccess("not-an-address", "malformed address");
  const SilentSocket hung(home_.path() / "hung");
  for (const Args& args : {Args{"busy"}, Args{"heartbeat", "now"}}) {
    const ProcessResult result = runWith(args, "unix:path=" + (home_.path() / "hung").string());
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_LT(result.elapsed, 5s);  // bounded, not the bus library's 25 s
  }
}

TEST_F(Wexlactl, RequestPrintsTheReplyAsSoonAsItArrives) {
  startApp();
  const std::string use = "\" — dùng / use: on, off, 2h, 45m, extend 30, while PID, status\n";
  const std::pair<Args, std::string> cases[] = {
      {{"status"}, "off — không giữ máy thức / not holding\n"},
      {{"on"}, "on — giữ máy thức tới khi tắt / holding until off\n"},
      {{"off"}, "off — không giữ máy thức / not holding\n"},
      {{""}, "không hiểu \"" + use},
      {{"extend", "soon"}, "không hiểu \"extend soon" + use},
  };
  for (const auto& [args, reply] : cases) {
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exitStatus, 0) << args[0];
    EXPECT_EQ(result.out, reply);
    EXPECT_EQ(result.err, "");
    EXPECT_LT(result.elapsed, 1.5s) << "the wait did not end at the reply";
  }
}

TEST_F(Wexlactl, EmptyReplyPrintsAnEmptyLine) {
  startStandIn({"--reply", ""});
  const ProcessResult result = run({"status"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "\n");
}

TEST_F(Wexlactl, TheLaterOfTwoRepliesInOnePassIsPrinted) {
  // The tool is held stopped while both replies reach it, so it finds them in one pass.
  startStandIn({"--reply", "first", "--reply", "second", "--delay-ms", "300"});
  ChildProcess tool({WEXLACTL_PATH, "status"}, environment(bus_->address()));
  ASSERT_EQ(received(1), Args{"status"});
  tool.signal(SIGSTOP);
  std::this_thread::sleep_for(800ms);
  tool.signal(SIGCONT);
  const ProcessResult result = tool.wait(10s);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "second\n");
}

TEST_F(Wexlactl, ARepliedObjectThatIsNoTextIsIgnored) {
  startStandIn({"--non-string", "--reply", "on"});
  ProcessResult result = run({"on"});
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "on\n");

  app_.reset();
  startStandIn({"--non-string"});
  result = run({"on"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kNoReply);
}

TEST_F(Wexlactl, SilentOrLateApplicationMeansNoReplyAfterTheWait) {
  for (const bool late : {false, true}) {
    app_.reset();
    if (late) startStandIn({"--reply", "too late", "--delay-ms", "2500"});
    const ProcessResult result = run({"status"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kNoReply);
    EXPECT_GE(result.elapsed, 1.9s);
    EXPECT_LT(result.elapsed, 5s);
  }
}

TEST_F(Wexlactl, RequestWithoutAReachableBusFailsAtOnce) {
  for (const std::string& address :
       {std::string(), "unix:path=" + (home_.path() / "missing").string()}) {
    const ProcessResult result = runWith({"status"}, address);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, kNoReply);
    EXPECT_LT(result.elapsed, 1.5s);
  }
  const SilentSocket hung(home_.path() / "hung");
  const ProcessResult result = runWith({"on"}, "unix:path=" + (home_.path() / "hung").string());
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, kNoReply);
  EXPECT_LT(result.elapsed, 5s);
}

TEST_F(Wexlactl, LargeAndManyArgumentsAreSentWhole) {
  startApp();
  const std::string big(100000, 'x');  // a single argument may hold at most 128 KiB
  Args many(2000, "w");
  std::string joined = "w";
  for (std::size_t i = 1; i < many.size(); ++i) joined += " w";

  // The application's answer to a text that is no command quotes the text it received.
  for (const std::string& text : {big, joined}) {
    const ProcessResult result = run(text == big ? Args{big} : many);
    EXPECT_TRUE(result.out.starts_with("không hiểu \"" + text + "\" — dùng"));
  }
  EXPECT_EQ(received(2), (Args{big, joined}));
}

}  // namespace
}  // namespace wexla::test
