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
    env.insert(env.end(), variables_.begin(), variables_.end());
    if (!busAddress.empty()) env.push_back("DBUS_SESSION_BUS_ADDRESS=" + busAddress);
    return env;
  }

  ProcessResult run(Args args, std::optional<std::string> bus = {},
                    const std::string& tool = WEXLACTL_PATH) {
    args.insert(args.begin(), tool);
    return runProcess(args, environment(bus.value_or(bus_.address())), 20s);
  }

  TempDir home_;
  Args variables_;  // more of the environment
  PrivateBus bus_ = PrivateBus::session();
  BusRecorder commands_{bus_, "dev.wexla.command"};
  std::unique_ptr<ChildProcess> app_;
};
using HookCommands = Wexlactl;

// Each agent by the name in its hook words, its file below HOME, and whether that is a file of
// our own rather than a settings file we merge into.
const std::tuple<std::string, std::string, bool> kAgents[] = {
    {"claude", ".claude/settings.json", false},
    {"codex", ".codex/hooks.json", false},
    {"gemini", ".gemini/settings.json", false},
    {"cursor", ".cursor/hooks.json", false},
    {"copilot", ".copilot/hooks/wexla.json", true},
    {"qwen", ".qwen/settings.json", false},
    {"opencode", ".config/opencode/plugin/wexla.js", true},
    {"kilo", ".config/kilo/plugin/wexla.js", true}};

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

using FileState = std::pair<std::string, fs::file_time_type>;  // the bytes, when last written
FileState stateOf(const fs::path& path) {
  return {readFile(path), fs::exists(path) ? fs::last_write_time(path) : fs::file_time_type()};
}

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
// that is no text is none, and a reply after the 2 s wait comes too late. A warning in the reply to
// a run is the person's to see, once, on standard error; the command goes on.
TEST_F(Wexlactl, RepliesTheApplicationNeverGives) {
  const std::string warned = "while — 1 ⚠ helper không chạy — máy vẫn có thể ngủ";
  const std::tuple<Args, Args, int, std::string> cases[] = {
      {{"--reply", ""}, {"on"}, 0, "\n"},
      {{"--non-string", "--delay-ms", "2500", "--reply", "late"}, {"on"}, 1, kNoReply},
      {{"--reply", warned}, {"run", "sh", "-c", "sleep 0.3; exit 3"}, 3, warned + "\n"},
  };
  for (const auto& [answer, args, status, printed] : cases) {
    startApp(answer);
    const ProcessResult result = run(args);
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.out + result.err, printed);
    EXPECT_LT(result.elapsed, 3s);
    EXPECT_GE(result.elapsed, status == 1 ? 1.9s : 0s);
  }
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
  const std::string inScript = Json(tool.string()).dump(-1, ' ', true);
  const std::string jsonCommand = inJson.substr(1, inJson.size() - 2);
  const std::string scriptTool = inScript.substr(1, inScript.size() - 2);
  for (const auto& [agent, file, ownFile] : kAgents) {
    SCOPED_TRACE(agent);
    const fs::path path = home_.path() / file;
    const fs::path backup = path.string() + ".wexla-backup";
    const fs::path golden = fs::path(WEXLA_FIXTURES) / "hooks" / agent;
    // Both plugins are one file but for the word in their hook words.
    const std::string extension = fs::path(file).extension().string();
    const fs::path written =
        golden.parent_path() / (extension == ".js" ? "plugin.js" : agent + extension);
    const std::string fresh = replaced(
        replaced(replaced(readFile(written), "$COMMAND", jsonCommand), "$TOOL", scriptTool),
        "$WORD", agent);
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
    // Files of ours from before the tool moved.
    if (agent == "copilot") first = replaced(fresh, jsonCommand, "/old/wexlactl busy");
    if (agent == "opencode") first = replaced(fresh, scriptTool, "/old/wexlactl");
    fs::remove(path);
    if (first) writeFile(path, *first);
    step({install});
    const FileState installed = stateOf(path);
    EXPECT_EQ(installed.first + (ownFile ? "" : "\n"), fresh);
    std::this_thread::sleep_for(20ms);  // a rewrite would show in the modification time
    step({install, "extra", "words"});
    EXPECT_EQ(stateOf(path), installed);
    step({uninstall});
    const FileState emptied = stateOf(path);
    EXPECT_EQ(emptied.first, ownFile ? "" : agent == "cursor" ? "{\n  \"version\": 1\n}" : "{}");
    std::this_thread::sleep_for(20ms);
    step({uninstall});
    EXPECT_EQ(stateOf(path), emptied);
    // A file of our own goes whole, and held nothing of the person's to back up.
    EXPECT_EQ(fs::exists(path) + fs::exists(backup), ownFile ? 0 : 2);
    EXPECT_EQ(readFile(backup), ownFile ? "" : first.value_or(installed.first));
    EXPECT_EQ(transcript, replaced(readFile(golden.string() + ".txt"), "$HOME", home_.path()));
  }
  const ProcessResult hook = run({"-c", command}, {}, "/bin/sh");
  EXPECT_EQ(hook.exitStatus, 0);
  EXPECT_EQ(hook.out + hook.err, "");
  EXPECT_EQ(commands_.texts(1, 10s), Args{"busy"});
}

using RunCommand = WholeRoad;

// While the command runs the application holds for its process and the helper holds the
// machine; SIGTERM to wexlactl reaches the command, whose status comes back, and the hold ends.
TEST_F(RunCommand, HeldWhileTheCommandRuns) {
  ChildProcess tool({WEXLACTL_PATH, "run", "sleep", "10"}, environment());
  const auto holding = [](const std::string& text) { return text.starts_with(R"({"held": true)"); };
  const Json held = Json::parse(statusUntil(holding, 5s, {"status", "json"}), nullptr, false);
  ASSERT_EQ(held["holds"].size(), 1u) << held;
  EXPECT_EQ(logind_->readLine(1s), lockedBy(*helper_));
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
  const std::string off = "off — không giữ máy thức / not holding\n";
  EXPECT_EQ(statusUntil(off, 5s), off);
  EXPECT_EQ(logind_->readLine(2s), releasedBy(*helper_));
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

// Files Qwen Code wrote itself: our entries in them are ours, and everything else is kept, its
// "$version" among it; a comment, which Qwen keeps and JSON cannot, is never lost.
TEST_F(HookCommands, FilesQwenCodeWrote) {
  const fs::path path = home_.path() / ".qwen/settings.json";
  const std::string migrated = readFile(WEXLA_FIXTURES "/qwen/migrated-by-qwen-v4.json");
  writeFile(path, migrated);
  EXPECT_EQ(run({"install-qwen-hooks"}).out,
            "Wexla hooks already installed \u2014 nothing to do.\n");
  EXPECT_EQ(run({"uninstall-qwen-hooks"}).out,
            "\u2713 Removed Wexla hooks (2). Restart Qwen Code to apply.\n");
  Json mine = Json::parse(migrated);
  mine.erase("hooks");
  EXPECT_EQ(readFile(path), mine.dump(2));

  const std::string commented = readFile(WEXLA_FIXTURES "/qwen/user-hooks-and-comment.json");
  writeFile(path, commented);
  for (const char* word : {"install-qwen-hooks", "uninstall-qwen-hooks"}) {
    EXPECT_EQ(run({word}).err, path.string() +
                                   " holds a comment (line 2, column 3), which would be lost when "
                                   "the file is written back \u2014 refusing to modify it. Remove "
                                   "the comments first, or add the hook by hand.\n");
  }
  EXPECT_EQ(readFile(path), commented);
}

// `hooks` reads each file where its agent looks (COPILOT_HOME and XDG_CONFIG_HOME honoured) and
// tells an install apart from a file it cannot read.
// The person's own file in Copilot's hooks folder is never touched; a plugin folder that cannot
// be written, or a folder variable that is no absolute path, fails the install with the reason.
TEST_F(HookCommands, TheHooksWordAndWhereEachAgentLooks) {
  const fs::path home = home_.path();
  variables_ = {"COPILOT_HOME=" + (home / "copilot").string(),
                "XDG_CONFIG_HOME=" + (home / "xdg").string()};
  const std::string mine = R"({"version": 1, "hooks": {"preToolUse": []}})";
  writeFile(home / "copilot/hooks/mine.json", mine);
  writeFile(home / ".gemini/settings.json", "[");
  const ProcessResult before = run({"hooks"});
  for (const char* agent : {"copilot", "qwen", "opencode"}) {
    EXPECT_EQ(run({"install-" + std::string(agent) + "-hooks"}).exitStatus, 0) << agent;
  }
  const ProcessResult after = run({"hooks"});
  EXPECT_EQ(after.out + after.err,
            replaced(R"(Claude Code         $HOME/.claude/settings.json  not installed
Codex               $HOME/.codex/hooks.json  not installed
Gemini CLI          $HOME/.gemini/settings.json  cannot be read: $HOME/.gemini/settings.json is not valid JSON (line 1, column 2: syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal). Nothing was changed.
Cursor              $HOME/.cursor/hooks.json  not installed
GitHub Copilot CLI  $HOME/copilot/hooks/wexla.json  installed
Qwen Code           $HOME/.qwen/settings.json  installed
opencode            $HOME/xdg/opencode/plugin/wexla.js  installed
Kilo Code           $HOME/xdg/kilo/plugin/wexla.js  not installed
)",
                     "$HOME", home.string()));
  EXPECT_EQ(before.out, replaced(after.out, "  installed\n", "  not installed\n"));
  EXPECT_EQ(after.exitStatus, 0);

  // Permission bits do not stop root: the tool then runs as nobody, in a home it may enter.
  const fs::path plugins = home / "xdg/kilo/plugin";
  fs::create_directories(plugins);
  fs::permissions(plugins, fs::perms(0555));
  fs::permissions(home, fs::perms(0755));
  Args asSomeone{"install-kilo-hooks"};
  if (::geteuid() == 0) {
    asSomeone = {"--reuid=65534", "--regid=65534", "--clear-groups", WEXLACTL_PATH, asSomeone[0]};
  }
  const ProcessResult refused =
      run(asSomeone, {}, ::geteuid() == 0 ? "/usr/bin/setpriv" : WEXLACTL_PATH);
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_NE(refused.err.find("Permission denied"), std::string::npos) << refused.err;
  EXPECT_TRUE(fs::is_empty(plugins));

  EXPECT_EQ(run({"uninstall-copilot-hooks"}).exitStatus, 0);
  EXPECT_EQ(readFile(home / "copilot/hooks/mine.json"), mine);
  EXPECT_EQ(std::distance(fs::directory_iterator(home / "copilot/hooks"), {}), 1);

  // A relative folder would be the current directory's: where the tool runs, not the agent.
  variables_.push_back("QWEN_HOME=qwen");
  EXPECT_EQ(run({"install-qwen-hooks"}).err,
            "QWEN_HOME is set to \"qwen\", which is not an absolute path \u2014 refusing to guess "
            "where Qwen Code looks. Set it to an absolute path, or unset it.\n");
}

// The plugin as the agents load it: an ES module that node accepts, whose handlers start the
// tool (its path written as a script's string, whatever characters it holds) without waiting.
TEST_F(HookCommands, ThePluginStartsTheHeartbeat) {
  if (run({"-c", "command -v node"}, {}, "/bin/sh").exitStatus != 0) {
    GTEST_SKIP() << "node is not installed";
  }
  const fs::path tool = home_.path() / "a \"b\" \\c\u00F4 'd'" / "wexlactl";
  fs::create_directories(tool.parent_path());
  fs::copy_file(WEXLACTL_PATH, tool);
  ASSERT_EQ(run({"install-opencode-hooks"}, {}, tool).exitStatus, 0);
  const fs::path module = home_.path() / "plugin.mjs";
  fs::copy_file(home_.path() / ".config/opencode/plugin/wexla.js", module);
  const ProcessResult node = run({"-c", "node --check \"$0\" && node \"$1\" \"$0\"",
                                  module.string(), WEXLA_FIXTURES "/hooks/load-plugin.mjs"},
                                 {}, "/bin/sh");
  EXPECT_EQ(node.exitStatus, 0) << node.err;
  EXPECT_EQ(commands_.texts(2, 10s), (Args{"busy", "busy"}));
}

}  // namespace
}  // namespace wexla::test
