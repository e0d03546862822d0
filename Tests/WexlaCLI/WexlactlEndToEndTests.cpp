// The built wexlactl in a temporary HOME on a private session bus: editing the agents' settings
// files, and talking to the real application where it answers, or to a stand-in for what the
// application never does (a late, empty or non-text reply, two). Commands that wexlactl runs, on
// the whole road with the helper.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "ChildProcess.hpp"
#include "Files.hpp"
#include "PrivateBus.hpp"
#include "TempDir.hpp"
#include "WholeRoad.hpp"

namespace wexla::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;
using Json = nlohmann::ordered_json;

const std::string kNoReply = "Wexla không phản hồi — app đang chạy chứ?\n";

class Wexlactl : public ::testing::Test {
 protected:
  // The real application, kept away from any helper of the machine it runs on; or, given its
  // answer, the stand-in.
  void startApp(Args standIn = {}) {
    standIn.insert(standIn.begin(), standIn.empty() ? WEXLA_APP_PATH : WEXLA_STANDIN_APP_PATH);
    app_ = std::make_unique<ChildProcess>(standIn, environment(bus_.address()));
    if (standIn.size() == 1) {
      ASSERT_TRUE(bus_.waitForName("dev.wexla.app", 10s));
    } else {
      ASSERT_EQ(app_->readLine(10s), "ready");
    }
  }

  Args environment(const std::string& busAddress) const {
    Args env{"PATH=/usr/bin:/bin", "HOME=" + home_.path().string(), "LANG=C.UTF-8",
             "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (home_.path() / "no-system-bus").string()};
    if (!busAddress.empty()) env.push_back("DBUS_SESSION_BUS_ADDRESS=" + busAddress);
    return env;
  }

  ProcessResult run(Args args, std::optional<std::string> bus = {},
                    const std::string& tool = WEXLACTL_PATH) {
    args.insert(args.begin(), tool);
    return runProcess(args, environment(bus.value_or(bus_.address())), 20s);
  }

  TempDir home_;
  PrivateBus bus_ = PrivateBus::session();
  BusRecorder commands_{bus_, "dev.wexla.command"};
  std::unique_ptr<ChildProcess> app_;
};
using HookCommands = Wexlactl;

// Each agent by the name in its hook words, and its settings file below HOME.
const std::pair<std::string, std::string> kAgents[] = {{"claude", ".claude/settings.json"},
                                                       {"codex", ".codex/hooks.json"},
                                                       {"gemini", ".gemini/settings.json"},
                                                       {"cursor", ".cursor/hooks.json"}};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

using FileState = std::pair<std::string, fs::file_time_type>;  // the bytes, when last written
FileState stateOf(const fs::path& path) { return {readFile(path), fs::last_write_time(path)}; }

// Each run as the user and the application see it: the usage text stays here; heartbeat texts
// are posted without waiting (the application never answers them); other texts wait for the
// reply, and only until it comes. The arguments arrive whole, as their command text.
TEST_F(Wexlactl, EachRunAsTheUserAndTheApplicationSeeIt) {
  startApp();
  const std::string usage = readFile(WEXLA_FIXTURES "/usage.txt");
  const std::string big(100000, 'x');  // an argument holds at most 128 KiB
  std::string many = "w";
  for (int i = 1; i < 2000; ++i) many += " w";
  const auto notUnderstood = [](const std::string& text) {
    return "không hiểu \"" + text +
           "\" — dùng / use: on, off, 2h, 45m, extend 30, while PID, status\n";
  };
  const std::string off = "off — không giữ máy thức / not holding\n";
  // clang-format off
  const std::tuple<Args, int, std::optional<std::string>, std::optional<std::string>> cases[] = {
      // arguments                      status, printed (none: it tells the time), posted
      {{},                              2, usage,                                    {}},
      {{"--help", "status"},            2, usage,                                    {}},
      {{"status"},                      0, off,                                      "status"},
      {{"on"},                          0, "on — giữ máy thức tới khi tắt / holding until off\n", "on"},
      {{"off"},                         0, off,                                      "off"},
      {{""},                            0, notUnderstood(""),                        ""},
      {{"extend", "busy"},              0, notUnderstood("extend busy"),             "extend busy"},
      {{"now", "install-codex-hooks"},  0, notUnderstood("now install-codex-hooks"), "now install-codex-hooks"},
      {{"\xFF", "a\xC3"},               0, notUnderstood("\uFFFD a\uFFFD"),          "\uFFFD a\uFFFD"},
      {{big},                           0, notUnderstood(big.substr(0, 4096) + "…"), big},
      {Args(2000, "w"),                 0, notUnderstood(many),                      many},
      {{"2h"},                          0, {},                                       "extend 120"},
      {{"busy"},                        0, "",                                       "busy"},
      {{"busy", "10"},                  0, "",                                       "busy 10"},
      {{"working"},                     0, "",                                       "working"},
      {{"heartbeat"},                   0, "",                                       "heartbeat"},
      {{"busybox"},                     0, "",                                       "busybox"},
  };
  // clang-format on
  Args posted;
  for (const auto& [args, status, printed, text] : cases) {
    SCOPED_TRACE(testing::PrintToString(args).substr(0, 40));
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.out + result.err, printed.value_or(result.out + result.err));
    EXPECT_EQ(result.err, "");
    EXPECT_LT(result.elapsed, 1.5s);
    if (text) posted.push_back(*text);
  }
  EXPECT_EQ(commands_.texts(posted.size(), 10s), posted);
}

// From a stand-in, what the application never does: an empty reply is a reply; a replied object
// that is no text is none, and a reply after the 2 s wait comes too late.
TEST_F(Wexlactl, RepliesTheApplicationNeverGives) {
  const std::tuple<Args, int, std::string> cases[] = {
      {{"--reply", ""}, 0, "\n"},
      {{"--non-string", "--delay-ms", "2500", "--reply", "late"}, 1, kNoReply},
  };
  for (const auto& [answer, status, printed] : cases) {
    startApp(answer);
    const ProcessResult result = run({"on"});
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.out + result.err, printed);
    EXPECT_LT(result.elapsed, 3s);
    EXPECT_GE(result.elapsed, status == 0 ? 0s : 1.9s);
  }
}

// A warning in the reply is the person's to see, once, on standard error; the command goes on.
TEST_F(Wexlactl, ARunTellsTheApplicationsWarning) {
  const std::string warned = "while — 1 ⚠ helper không chạy — máy vẫn có thể ngủ";
  startApp({"--reply", warned});
  const ProcessResult result = run({"run", "sh", "-c", "sleep 0.3; exit 3"});
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(result.out + result.err, warned + "\n");
}

TEST_F(Wexlactl, TheLaterOfTwoRepliesInOnePassIsPrinted) {
  // The tool is held stopped while both replies reach it, so it finds them in one pass.
  startApp({"--delay-ms", "300", "--reply", "first", "--reply", "second"});
  ChildProcess tool({WEXLACTL_PATH, "status"}, environment(bus_.address()));
  ASSERT_EQ(commands_.texts(1, 10s), Args{"status"});
  tool.signal(SIGSTOP);
  std::this_thread::sleep_for(800ms);
  tool.signal(SIGCONT);
  const ProcessResult result = tool.wait(10s);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "second\n");
}

// Without a bus a request has no reply at once, and a heartbeat still succeeds silently. A bus
// that takes the connection and never answers holds neither for long.
TEST_F(Wexlactl, WithoutABus) {
  const std::string hungPath = (home_.path() / "hung").string();
  const int hung = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  hungPath.copy(address.sun_path, sizeof address.sun_path - 1);
  EXPECT_EQ(::bind(hung, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::listen(hung, 16), 0);
  for (const std::string& bus :
       {std::string(), std::string("not-an-address"),
        "unix:path=" + (home_.path() / "missing").string(), "unix:path=" + hungPath}) {
    SCOPED_TRACE(bus);
    ChildProcess heartbeat({WEXLACTL_PATH, "busy"}, environment(bus));
    ChildProcess request({WEXLACTL_PATH, "on"}, environment(bus));
    const ProcessResult posted = heartbeat.wait(10s);
    const ProcessResult asked = request.wait(10s);
    EXPECT_EQ(posted.exitStatus, 0);
    EXPECT_EQ(posted.out + posted.err, "");
    EXPECT_EQ(asked.exitStatus, 1);
    EXPECT_EQ(asked.out + asked.err, kNoReply);
    // Not the bus library's 25 s.
    EXPECT_LT(std::max(posted.elapsed, asked.elapsed), bus.ends_with("hung") ? 5s : 1.5s);
  }
  ::close(hung);
}

// Each agent's whole road, as Fixtures/hooks/AGENT.txt shows what the user sees: files it would
// not read or we could not write back are refused untouched; the hook goes in as in
// Fixtures/hooks/AGENT.json, into no file (Claude Code, Codex), an empty one (Cursor) or one with
// our entries from before they could not fail (Gemini); installing again rewrites nothing;
// uninstalling leaves the backup of what was there first. The tool lies where a shell needs
// quotes, with letters beyond ASCII, and the agents run the hook through a shell.
TEST_F(HookCommands, EachAgentsWholeRoad) {
  const fs::path tool = home_.path() / "c\u00F4ng c\u1EE5 $HOME's" / "wexlactl";
  fs::create_directories(tool.parent_path());
  fs::copy_file(WEXLACTL_PATH, tool);
  const std::string command =
      "'" + home_.path().string() + "/c\u00F4ng c\u1EE5 $HOME'\\''s/wexlactl' busy";
  const std::string inJson = Json(command).dump();
  for (const auto& [agent, file] : kAgents) {
    SCOPED_TRACE(agent);
    const fs::path path = home_.path() / file;
    const fs::path backup = path.string() + ".wexla-backup";
    const fs::path golden = fs::path(WEXLA_FIXTURES) / "hooks" / agent;
    const std::string fresh = replaced(readFile(golden.string() + ".json"), "$COMMAND",
                                       inJson.substr(1, inJson.size() - 2));
    const std::string install = "install-" + agent + "-hooks";
    const std::string uninstall = "un" + install;
    std::string transcript;
    const auto step = [&](const std::vector<std::string>& args) {
      const ProcessResult result = run(args, {}, tool);
      transcript += "$ wexlactl " + args[0] + "\n" + result.out + result.err + "[" +
                    std::to_string(result.exitStatus) + "]\n";
      EXPECT_EQ(result.exitStatus == 0 ? result.err : result.out, "");
    };

    for (const char* bytes : {"[]", "{\n  \"hooks\": {\n"}) {
      writeFile(path, bytes);
      const FileState before = stateOf(path);
      step({install});
      step({uninstall});
      EXPECT_EQ(stateOf(path), before);
    }

    std::optional<std::string> first;
    if (agent == "cursor") first = "";
    if (agent == "gemini") first = replaced(fresh, " || true", "");
    fs::remove(path);
    if (first) writeFile(path, *first);
    step({install});
    const FileState installed = stateOf(path);
    EXPECT_EQ(installed.first + "\n", fresh);
    std::this_thread::sleep_for(20ms);  // a rewrite would show in the modification time
    step({install, "extra", "words"});
    EXPECT_EQ(stateOf(path), installed);
    step({uninstall});
    const FileState emptied = stateOf(path);
    EXPECT_EQ(emptied.first, agent == "cursor" ? "{\n  \"version\": 1\n}" : "{}");
    std::this_thread::sleep_for(20ms);
    step({uninstall});
    EXPECT_EQ(stateOf(path), emptied);
    EXPECT_TRUE(fs::exists(backup));
    EXPECT_EQ(readFile(backup), first.value_or(installed.first));
    EXPECT_EQ(transcript, replaced(readFile(golden.string() + ".txt"), "$HOME", home_.path()));
  }
  const ProcessResult hook = run({"-c", command}, {}, "/bin/sh");
  EXPECT_EQ(hook.exitStatus, 0);
  EXPECT_EQ(hook.out + hook.err, "");
  EXPECT_EQ(commands_.texts(1, 10s), Args{"busy"});
}

// Real settings files, laid out as the agents document them: uninstalling gives back the
// document with everything of the user's, down to the member order and another command that
// names the tool.
TEST_F(HookCommands, RealisticSettingsFilesComeBackWhole) {
  int files = 0;
  for (const auto& [agent, file] : kAgents) {
    const fs::path path = home_.path() / file;
    for (const auto& fixture :
         fs::directory_iterator(fs::path(WEXLA_FIXTURES) / "agents" / agent)) {
      SCOPED_TRACE(fixture.path().string());
      ++files;
      const std::string original = readFile(fixture.path());
      writeFile(path, original);
      fs::remove(path.string() + ".wexla-backup");
      EXPECT_EQ(run({"install-" + agent + "-hooks"}).exitStatus, 0);
      EXPECT_EQ(run({"uninstall-" + agent + "-hooks"}).exitStatus, 0);
      Json expected = Json::parse(original);
      if (agent == "cursor" && !expected.contains("version")) expected["version"] = 1;  // kept
      EXPECT_EQ(Json::parse(readFile(path)).dump(), expected.dump());
      EXPECT_EQ(readFile(path.string() + ".wexla-backup"), original);
    }
  }
  EXPECT_EQ(files, 12);
}

class RunCommand : public WholeRoad {
 protected:
  // `status json` once `wanted` holds of it, or as it is after a few seconds.
  Json statusUntil(const std::function<bool(const Json&)>& wanted) const {
    Json status;
    for (const auto until = std::chrono::steady_clock::now() + 5s;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
      status = Json::parse(wexlactl({"status", "json"}), nullptr, false);
      if (status.is_object() && wanted(status)) break;
    }
    return status;
  }
};

// While the command runs the application holds for its process and the helper holds the
// machine; SIGTERM to wexlactl reaches the command, whose status comes back, and the hold ends.
TEST_F(RunCommand, HeldWhileTheCommandRuns) {
  ChildProcess tool({WEXLACTL_PATH, "run", "sleep", "10"}, environment());
  Json held = statusUntil([](const Json& status) { return status.value("held", false); });
  ASSERT_EQ(held["holds"].size(), 1u) << held;
  const std::string command = held["holds"][0]["pids"][0].dump();
  EXPECT_NE(readFile("/proc/" + command + "/status")
                .find("\nPPid:\t" + std::to_string(tool.pid()) + "\n"),
            std::string::npos);
  const auto signalled = std::chrono::steady_clock::now();
  tool.signal(SIGTERM);
  const ProcessResult result = tool.wait(5s);
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, 1s);
  EXPECT_EQ(result.exitStatus, 143);
  EXPECT_EQ(result.out + result.err, "");
  const auto emptied = [](const Json& status) { return status.value("holds", Json()).empty(); };
  EXPECT_EQ(statusUntil(emptied).value("holds", Json()), Json::array());
}

// From a shell as a person types it ("$0" is the tool): the command's input, output, words and
// status come through untouched, wexlactl adds nothing on standard output, and without the
// application the command runs all the same, with one warning.
TEST_F(RunCommand, TheCommandsOwnStatusAndStreams) {
  const std::string cannotRun = "wexlactl: không chạy được / cannot run \"";
  // clang-format off
  const std::tuple<bool, std::string, int, std::string, std::string> cases[] = {
      // application, shell line,                             status, output, error
      {true,  R"("$0" run sh -c 'exit 7')",                       7,   "",        ""},
      {true,  R"(printf 'hello\n' | "$0" run cat)",               0,   "hello\n", ""},
      {true,  R"("$0" run printf %s $'\xff\n')",                  0,   "\xff\n",  ""},
      {true,  R"("$0" run sh -c 'kill $$')",                      143, "",        ""},
      // Ended by Ctrl-C as the command was, so that a calling script stops too.
      {true,  R"(exec "$0" run sh -c 'kill -INT $$')",            -1,  "",        ""},
      {true,  R"(trap '' CHLD; exec "$0" run sh -c 'exit 7')",    7,   "",        ""},
      {true,  R"("$0" run no-such-program)",                      127, "",        cannotRun + "no-such-program\": No such file or directory\n"},
      {true,  R"("$0" run /)",                                    126, "",        cannotRun + "/\": Permission denied\n"},
      {true,  R"("$0" run)",                                      2,   "",        "usage: wexlactl run CMD [ARG...]\n"},
      {false, R"(printf 'hello\n' | "$0" run cat)",               0,   "hello\n", kNoReply},
  };
  // clang-format on
  for (const auto& [application, line, status, out, err] : cases) {
    SCOPED_TRACE(line);
    if (!application) stopApp();
    const ProcessResult result = start({"/bin/bash", "-c", line, WEXLACTL_PATH})->wait(10s);
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, err);
    EXPECT_LT(result.elapsed, 3s);
  }
}

}  // namespace
}  // namespace wexla::test
