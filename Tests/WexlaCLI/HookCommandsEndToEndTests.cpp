// The built wexlactl editing the agents' settings files in a temporary HOME.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <thread>

#include "BusRecorder.hpp"
#include "ChildProcess.hpp"
#include "Files.hpp"
#include "PrivateBus.hpp"
#include "TempDir.hpp"

namespace wexla::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

struct Agent {
  const char* suffix;  // of the hook words
  const char* file;
  std::vector<const char*> events;
  const char* entryTemplate;  // one entry as written, "%" standing for the command
  const char* installTail;
  const char* uninstallTail;
  const char* emptied;  // the file after uninstalling from a fresh install
};

const Agent kAgents[] = {
    {"claude",
     ".claude/settings.json",
     {"PreToolUse", "UserPromptSubmit"},
     "{\n            \"type\": \"command\",\n            \"command\": \"%\",\n            "
     "\"_origin\": \"wexla\"\n          }",
     ".wexla-backup). Restart Claude Code to load it.\n  Undo any time: wexlactl "
     "uninstall-claude-hooks",
     "). Restart Claude Code to apply.",
     "{}"},
    {"codex",
     ".codex/hooks.json",
     {"PreToolUse", "UserPromptSubmit"},
     "{\n            \"type\": \"command\",\n            \"command\": \"%\"\n          }",
     ".wexla-backup).\n  IMPORTANT: run /hooks in Codex once to TRUST it \u2014 until then it "
     "won't fire.\n  Undo any time: wexlactl uninstall-codex-hooks",
     "). Restart Codex to apply.",
     "{}"},
    {"gemini",
     ".gemini/settings.json",
     {"BeforeTool", "BeforeAgent"},
     "{\n            \"type\": \"command\",\n            \"command\": \"% || true\",\n            "
     "\"name\": \"wexla\"\n          }",
     ".wexla-backup). Restart Gemini CLI to load it.\n  Undo any time: wexlactl "
     "uninstall-gemini-hooks",
     "). Restart Gemini CLI to apply.",
     "{}"},
    {"cursor",
     ".cursor/hooks.json",
     {"beforeShellExecution", "afterFileEdit", "beforeSubmitPrompt"},
     "{\n        \"command\": \"%\"\n      }",
     ".wexla-backup). Restart the Cursor agent to load it.\n  Undo any time: wexlactl "
     "uninstall-cursor-hooks",
     "). Restart the Cursor agent to apply.",
     "{\n  \"version\": 1\n}"},
};

std::string replaced(std::string text, const std::string& command) {
  text.replace(text.find('%'), 1, command);
  return text;
}

// The file a fresh install writes, byte for byte.
std::string freshFile(const Agent& agent, const std::string& command) {
  const bool flat = std::string(agent.suffix) == "cursor";
  std::string text = flat ? "{\n  \"version\": 1,\n  \"hooks\": {" : "{\n  \"hooks\": {";
  for (std::size_t i = 0; i < agent.events.size(); ++i) {
    text += i == 0 ? "\n" : ",\n";
    text += std::string("    \"") + agent.events[i] + "\": [\n      ";
    text += flat ? replaced(agent.entryTemplate, command)
                 : "{\n        \"hooks\": [\n          " + replaced(agent.entryTemplate, command) +
                       "\n        ]\n      }";
    text += "\n    ]";
  }
  return text + "\n  }\n}";
}

std::string installMessage(const Agent& agent, const fs::path& file,
                           const std::vector<const char*>& events) {
  std::string names;
  for (const char* event : events) names += (names.empty() ? "" : " + ") + std::string(event);
  return "\u2713 Added Wexla's \"busy\" heartbeat to " + names + " in\n  " + file.string() +
         "\n  (backup: " + file.string() + agent.installTail + "\n";
}

struct FileState {
  bool exists;
  std::string bytes;
  fs::file_time_type modified;
  bool operator==(const FileState&) const = default;
};

FileState stateOf(const fs::path& path) {
  if (!fs::exists(path)) return {false, {}, {}};
  return {true, readFile(path), fs::last_write_time(path)};
}

class HookCommands : public ::testing::Test {
 protected:
  ProcessResult run(const std::vector<std::string>& args, const std::string& tool = WEXLACTL_PATH) {
    std::vector<std::string> argv{tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, {"PATH=/usr/bin:/bin", "HOME=" + home_.path().string()}, 20s);
  }
  fs::path fileOf(const Agent& agent) const { return home_.path() / agent.file; }
  fs::path backupOf(const Agent& agent) const { return fileOf(agent).string() + ".wexla-backup"; }

  const std::string command_ = fs::canonical(WEXLACTL_PATH).string() + " busy";
  TempDir home_;
};

TEST_F(HookCommands, InstallTwiceThenUninstallTwice) {
  for (const Agent& agent : kAgents) {
    SCOPED_TRACE(agent.suffix);
    const std::string install = std::string("install-") + agent.suffix + "-hooks";
    const std::string uninstall = std::string("un") + install;
    const fs::path file = fileOf(agent);

    ProcessResult result = run({install});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, installMessage(agent, file, agent.events));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(readFile(file), freshFile(agent, command_));
    EXPECT_FALSE(fs::exists(backupOf(agent)));  // nothing was there to back up

    const FileState installed = stateOf(file);
    std::this_thread::sleep_for(20ms);  // a rewrite would show in the modification time
    result = run({install, "extra", "words"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "Wexla hooks already installed \u2014 nothing to do.\n");
    EXPECT_EQ(stateOf(file), installed);
    EXPECT_FALSE(fs::exists(backupOf(agent)));

    result = run({uninstall});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "\u2713 Removed Wexla hooks (" + std::to_string(agent.events.size()) +
                              agent.uninstallTail + "\n");
    EXPECT_EQ(readFile(file), agent.emptied);
    EXPECT_EQ(readFile(backupOf(agent)), installed.bytes);

    const FileState emptied = stateOf(file);
    const FileState backup = stateOf(backupOf(agent));
    std::this_thread::sleep_for(20ms);
    result = run({uninstall});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "No Wexla hooks found.\n");
    EXPECT_EQ(stateOf(file), emptied);
    EXPECT_EQ(stateOf(backupOf(agent)), backup);
  }
}

TEST_F(HookCommands, ZeroByteFileGetsAZeroByteBackup) {
  for (const Agent& agent : kAgents) {
    writeFile(fileOf(agent), "");
    const ProcessResult result = run({std::string("install-") + agent.suffix + "-hooks"});
    EXPECT_EQ(result.exitStatus, 0) << agent.suffix;
    EXPECT_EQ(readFile(fileOf(agent)), freshFile(agent, command_));
    EXPECT_TRUE(fs::exists(backupOf(agent))) << agent.suffix;
    EXPECT_EQ(fs::file_size(backupOf(agent)), 0u) << agent.suffix;
  }
}

TEST_F(HookCommands, RefusedFilesAreLeftExactlyAsTheyWere) {
  const auto file = [&](const Agent& agent) { return fileOf(agent).string(); };
  struct Case {
    const char* bytes;
    std::function<std::string(const Agent&)> message;
    bool uninstallToo;
  };
  const Case cases[] = {
      {"[]",
       [](const Agent& agent) {
         return "~/" + std::string(agent.file) +
                " is not a JSON object \u2014 refusing to modify it. Fix it by hand first.\n";
       },
       true},
      {"{\n  \"hooks\": {\n",
       [&](const Agent& agent) {
         return file(agent) +
                " is not valid JSON (line 3, column 1: syntax error while parsing "
                "object key - unexpected end of input; expected string literal). "
                "Nothing was changed.\n";
       },
       true},
      {"{\"hooks\": \"off\"}",
       [&](const Agent& agent) {
         return file(agent) +
                ": \"hooks\" is not an object \u2014 refusing to modify it. Fix it "
                "by hand first.\n";
       },
       false},
  };
  for (const Case& c : cases) {
    for (const Agent& agent : kAgents) {
      SCOPED_TRACE(std::string(agent.suffix) + " " + c.bytes);
      writeFile(fileOf(agent), c.bytes);
      const FileState before = stateOf(fileOf(agent));
      for (const char* prefix : {"install-", "uninstall-"}) {
        if (!c.uninstallToo && std::string(prefix) == "uninstall-") continue;
        const ProcessResult result = run({prefix + std::string(agent.suffix) + "-hooks"});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.message(agent));
        EXPECT_EQ(stateOf(fileOf(agent)), before);
        EXPECT_FALSE(fs::exists(backupOf(agent)));
      }
    }
  }
}

TEST_F(HookCommands, PermissionsAndLinksSurviveTheRewrite) {
  const Agent& claude = kAgents[0];
  writeFile(fileOf(claude), "{\"env\": {\"API_KEY\": \"secret\"}}");
  ::chmod(fileOf(claude).c_str(), 0600);
  ASSERT_EQ(run({"install-claude-hooks"}).exitStatus, 0);
  EXPECT_EQ(fs::status(fileOf(claude)).permissions(), fs::perms(0600));
  EXPECT_EQ(fs::status(backupOf(claude)).permissions(), fs::perms(0600));

  const Agent& codex = kAgents[1];
  const fs::path dotfiles = home_.path() / "dotfiles" / "codex-hooks.json";
  writeFile(dotfiles, "{}");
  fs::create_directories(fileOf(codex).parent_path());
  fs::create_symlink(dotfiles, fileOf(codex));
  ASSERT_EQ(run({"install-codex-hooks"}).exitStatus, 0);
  EXPECT_TRUE(fs::is_symlink(fileOf(codex)));
  EXPECT_EQ(readFile(dotfiles), freshFile(codex, command_));
}

// Real settings, laid out as the agents document them: the user's members, their values and
// their order survive, and uninstall gives the document back.
TEST_F(HookCommands, RealisticSettingsFilesKeepEverythingOfTheUsers) {
  int files = 0;
  for (const Agent& agent : kAgents) {
    for (const auto& fixture :
         fs::directory_iterator(fs::path(WEXLA_FIXTURES) / "agents" / agent.suffix)) {
      SCOPED_TRACE(fixture.path().string());
      ++files;
      const std::string original = readFile(fixture.path());
      writeFile(fileOf(agent), original);
      fs::remove(backupOf(agent));

      ASSERT_EQ(run({std::string("install-") + agent.suffix + "-hooks"}).exitStatus, 0);
      const Json before = Json::parse(original);
      const Json installed = Json::parse(readFile(fileOf(agent)));
      EXPECT_EQ(readFile(backupOf(agent)), original);
      std::vector<std::string> keys;
      for (const auto& [key, value] : before.items()) {
        keys.push_back(key);
        if (key != "hooks") {
          EXPECT_EQ(installed.at(key), value) << key;
        }
      }
      std::vector<std::string> keysAfter;
      for (const auto& [key, value] : installed.items()) keysAfter.push_back(key);
      keysAfter.resize(std::min(keysAfter.size(), keys.size()));
      EXPECT_EQ(keysAfter, keys);

      ASSERT_EQ(run({std::string("uninstall-") + agent.suffix + "-hooks"}).exitStatus, 0);
      Json expected = before;
      if (std::string(agent.suffix) == "cursor" && !expected.contains("version")) {
        expected["version"] = 1;  // added by install, never taken away
      }
      EXPECT_EQ(Json::parse(readFile(fileOf(agent))).dump(), expected.dump());
    }
  }
  EXPECT_GE(files, 12);
}

// A tool under a directory with a blank: the agents run hooks through a shell. Once the tool is
// gone, Gemini CLI's hook still succeeds silently (any other status but 1 blocks the prompt).
TEST_F(HookCommands, AToolUnderADirectoryWithABlankStillRunsFromTheHook) {
  const fs::path tool = home_.path() / "My Tools" / "wexlactl";
  fs::create_directories(tool.parent_path());
  fs::copy_file(WEXLACTL_PATH, tool);
  ASSERT_EQ(run({"install-claude-hooks"}, tool.string()).exitStatus, 0);
  const Json settings = Json::parse(readFile(fileOf(kAgents[0])));
  const std::string command = settings["hooks"]["PreToolUse"][0]["hooks"][0]["command"];
  EXPECT_EQ(command, "'" + tool.string() + "' busy");

  // Gemini entries written before are brought to the form that cannot fail.
  const Agent& gemini = kAgents[2];
  const std::string oldEntry =
      R"({"hooks":[{"type":"command","command":")" + command + R"(","name":"wexla"}]})";
  writeFile(fileOf(gemini),
            R"({"hooks":{"BeforeTool":[)" + oldEntry + R"(],"BeforeAgent":[)" + oldEntry + "]}}");
  const ProcessResult updated = run({"install-gemini-hooks"}, tool.string());
  EXPECT_EQ(updated.out,
            "\u2713 Updated Wexla's \"busy\" heartbeat for BeforeTool + BeforeAgent in\n  " +
                fileOf(gemini).string() + "\n  (backup: " + fileOf(gemini).string() +
                gemini.installTail + "\n");
  const std::string geminiCommand =
      Json::parse(readFile(fileOf(gemini)))["hooks"]["BeforeAgent"][0]["hooks"][0]["command"];
  EXPECT_EQ(geminiCommand, command + " || true");

  const PrivateBus bus = PrivateBus::session();
  BusRecorder commands(bus, "dev.wexla.command");
  const ProcessResult hook =
      runProcess({"/bin/sh", "-c", command},
                 {"PATH=/usr/bin:/bin", "DBUS_SESSION_BUS_ADDRESS=" + bus.address()});
  EXPECT_EQ(hook.exitStatus, 0);
  EXPECT_EQ(hook.out + hook.err, "");
  EXPECT_EQ(commands.texts(1, 10s), std::vector<std::string>{"busy"});

  fs::remove(tool);
  const ProcessResult gone = runProcess({"/bin/bash", "-c", geminiCommand}, {"PATH=/usr/bin:/bin"});
  EXPECT_EQ(gone.exitStatus, 0);
  EXPECT_EQ(gone.out, "");
}

}  // namespace
}  // namespace wexla::test
