#include "HookAgents.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "ApplicationChannel.hpp"
#include "CodexHookInstaller.hpp"
#include "CursorHookInstaller.hpp"
#include "GeminiHookInstaller.hpp"
#include "HookInstaller.hpp"

namespace wexla::cli {

namespace {

template <typename Error>
[[noreturn]] void throwNotAnObject() {
  throw Error();
}

// Claude Code drops members it does not know when it rewrites the file, our marker among them;
// Qwen Code keeps them, but reads the same form.
bool isClaudeEntryOurs(const Json& entry) {
  return isMarkedOurs(entry, "_origin") || runsOurCommand(entry);
}

Json makeClaudeEntry(const std::string& command) {
  return {{"type", "command"}, {"command", command}, {"_origin", "wexla"}};
}

Json makeCodexEntry(const std::string& command) {
  return {{"type", "command"}, {"command", command}};
}

// Gemini CLI denies the prompt or tool call on any exit status but 0 and 1, so a hook whose tool
// was removed would block every prompt: the command cannot fail.
bool isGeminiEntryOurs(const Json& entry) {
  return isMarkedOurs(entry, "name") || runsOurCommandOrTrue(entry, "command");
}

Json makeGeminiEntry(const std::string& command) {
  return {{"type", "command"}, {"command", command + std::string(kCannotFail)}, {"name", "wexla"}};
}

// Entries written before the command could not fail; the path they run stays as it is.
bool updateGeminiEntry(Json& entry) {
  if (!runsOurCommand(entry)) return false;
  entry["command"].get_ref<std::string&>() += kCannotFail;
  return true;
}

Json makeCursorEntry(const std::string& command) { return {{"command", command}}; }

// A failing preToolUse hook denies the tool call in the Copilot CLI.
bool isCopilotEntryOurs(const Json& entry) { return runsOurCommandOrTrue(entry, "bash"); }

Json makeCopilotEntry(const std::string& command) {
  return {{"type", "command"}, {"bash", command + std::string(kCannotFail)}, {"timeoutSec", 5}};
}

// The first line tells our plugin from any other file in the agent's plugin folder.
constexpr std::string_view kPluginMark =
    "// Wexla's \"busy\" heartbeat: keeps the computer awake while the agent works.\n";

// The agent loads every file in its plugin folder and calls what it exports. The tool starts
// apart from the agent, its output ignored and never awaited, so a slow or missing tool costs
// the agent nothing; the path is a string literal, escaped as JSON escapes it.
std::string pluginText(const AgentHooks& agent, const std::string& executable) {
  const std::string word(agent.word);
  return std::string(kPluginMark) + "// Written by `wexlactl install-" + word +
         "-hooks`; `wexlactl uninstall-" + word + "-hooks` removes it.\n" +
         "import { spawn } from \"node:child_process\";\n"
         "\n"
         "const wexlactl = " +
         Json(executable).dump(-1, ' ', true, Json::error_handler_t::strict) +
         ";\n"
         "\n"
         "function busy() {\n"
         "  try {\n"
         "    const child = spawn(wexlactl, [\"busy\"], { detached: true, stdio: \"ignore\" });\n"
         "    child.on(\"error\", () => {});\n"
         "    child.unref();\n"
         "  } catch {}\n"
         "}\n"
         "\n"
         "export const WexlaHeartbeat = async () => ({\n"
         "  \"chat.message\": async () => busy(),\n"
         "  \"tool.execute.before\": async () => busy(),\n"
         "});\n";
}

bool isOurPlugin(const AgentHooks&, const std::string& bytes) {
  return bytes.starts_with(kPluginMark);
}

constexpr std::string_view kCopilotEvents[] = {"userPromptSubmitted", "preToolUse"};
constexpr std::string_view kPluginEvents[] = {"chat.message", "tool.execute.before"};
// Codex rejects a file with any other top-level member, and then runs none of its hooks.
constexpr std::string_view kCodexRootMembers[] = {"hooks", "description"};

// The names and words are the ones the application's menu offers.
constexpr auto& kNames = channel::kHookAgents;

// clang-format off
constexpr std::array<AgentHooks, kNames.size()> kAgents{{
    {.name = kNames[0].name, .word = kNames[0].word, .directory = ".claude",
     .file = "settings.json",
     .events = ClaudeHooks::events, .grouped = true, .isOurs = &isClaudeEntryOurs,
     .makeEntry = &makeClaudeEntry, .notAnObject = &throwNotAnObject<HookError>},
    // Codex trusts a hook by its place and its exact text: an entry there is never rewritten.
    {.name = kNames[1].name, .word = kNames[1].word, .directory = ".codex", .file = "hooks.json",
     .events = CodexHooks::events, .grouped = true, .isOurs = &runsOurCommand,
     .makeEntry = &makeCodexEntry, .rootMembers = kCodexRootMembers,
     .afterInstall = "IMPORTANT: run /hooks in Codex once to TRUST it \u2014 until then it won't fire.",
     .notAnObject = &throwNotAnObject<CodexHookError>},
    {.name = kNames[2].name, .word = kNames[2].word, .directory = ".gemini",
     .file = "settings.json",
     .events = GeminiHooks::events, .grouped = true, .isOurs = &isGeminiEntryOurs,
     .makeEntry = &makeGeminiEntry, .update = &updateGeminiEntry,
     .notAnObject = &throwNotAnObject<GeminiHookError>},
    {.name = kNames[3].name, .word = kNames[3].word, .directory = ".cursor", .file = "hooks.json",
     .events = CursorHooks::events, .isOurs = &runsOurCommand, .makeEntry = &makeCursorEntry,
     .writesVersion = true, .restarted = "the Cursor agent",
     .notAnObject = &throwNotAnObject<CursorHookError>},
    // Reads every *.json file in its hooks folder, so ours is a file of its own.
    {.name = kNames[4].name, .word = kNames[4].word, .directoryVariable = "COPILOT_HOME",
     .directory = ".copilot", .file = "hooks/wexla.json", .events = kCopilotEvents,
     .isOurs = &isCopilotEntryOurs, .makeEntry = &makeCopilotEntry, .writesVersion = true,
     .ownFileText = &ownHooksFileText, .isOurFile = &isOurHooksFile},
    {.name = kNames[5].name, .word = kNames[5].word, .directoryVariable = "QWEN_HOME",
     .directory = ".qwen",
     .file = "settings.json", .events = ClaudeHooks::events, .grouped = true,
     .isOurs = &isClaudeEntryOurs, .makeEntry = &makeClaudeEntry},
    {.name = kNames[6].name, .word = kNames[6].word, .directoryVariable = "XDG_CONFIG_HOME",
     .directory = ".config", .file = "opencode/plugin/wexla.js", .events = kPluginEvents,
     .ownFileText = &pluginText, .isOurFile = &isOurPlugin},
    {.name = kNames[7].name, .word = kNames[7].word, .directoryVariable = "XDG_CONFIG_HOME",
     .directory = ".config", .file = "kilo/plugin/wexla.js", .events = kPluginEvents,
     .ownFileText = &pluginText, .isOurFile = &isOurPlugin},
}};
// clang-format on

}  // namespace

std::span<const AgentHooks> hookAgents() { return kAgents; }

const AgentHooks* findHookAgent(std::string_view word) {
  const auto found = std::find_if(kAgents.begin(), kAgents.end(),
                                  [&](const AgentHooks& agent) { return agent.word == word; });
  return found == kAgents.end() ? nullptr : &*found;
}

std::string hooksReport(const HookEnvironment& environment) {
  std::size_t width = 0;
  for (const AgentHooks& agent : kAgents) width = std::max(width, std::strlen(agent.name));
  std::string lines;
  for (const AgentHooks& agent : kAgents) {
    std::string name = agent.name;
    name.resize(width, ' ');
    std::string file = "-";
    try {
      file = agentFile(agent, environment).string();
    } catch (const SettingsError&) {
      // The state tells why there is no file.
    }
    lines += name + "  " + file + "  " + hookState(agent, environment) + '\n';
  }
  return lines;
}

const AgentHooks& ClaudeHooks::agent() { return *findHookAgent("claude"); }
const AgentHooks& CodexHooks::agent() { return *findHookAgent("codex"); }
const AgentHooks& GeminiHooks::agent() { return *findHookAgent("gemini"); }
const AgentHooks& CursorHooks::agent() { return *findHookAgent("cursor"); }

}  // namespace wexla::cli
