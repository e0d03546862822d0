#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "SettingsStore.hpp"

namespace wexla::cli {

// What sets one agent's hooks apart; the editing itself is the same for all agents.
struct AgentHooks {
  const char* name;
  const char* word;  // as in the hook words, install-WORD-hooks
  // The file lies below the folder that `directoryVariable` names when that is set, else below
  // `directory` in the home directory.
  const char* directoryVariable = nullptr;
  const char* directory;
  const char* file;
  std::span<const std::string_view> events;  // handled, and named in messages, in this order
  bool grouped = false;  // event -> groups -> "hooks" entries, or event -> entries
  bool (*isOurs)(const Json& entry) = nullptr;
  Json (*makeEntry)(const std::string& command) = nullptr;
  // Brings an entry of ours written by an earlier version to today's form; true when it changed.
  // None for agents that trust a hook by its exact text.
  bool (*update)(Json& entry) = nullptr;
  // The only top-level members with which the agent reads the file at all; empty: any.
  std::span<const std::string_view> rootMembers = {};
  bool writesVersion = false;  // adds "version": 1 to a file that has none
  // Who is restarted to load or drop the hook; none: the agent by its name.
  const char* restarted = nullptr;
  // What to do after installing instead of restarting the agent.
  const char* afterInstall = nullptr;
  void (*notAnObject)() = nullptr;  // throws the agent's own error; none: a message naming the file
  // For an agent that reads every file in a folder, a file of our own instead of a settings file
  // to merge into: its whole text, and whether the bytes found there are a file we wrote.
  std::string (*ownFileText)(const AgentHooks& agent, const std::string& executable) = nullptr;
  bool (*isOurFile)(const AgentHooks& agent, const std::string& bytes) = nullptr;
};

struct HookChanges {
  std::vector<std::string> added;    // events that got our hook
  std::vector<std::string> updated;  // events whose hook of ours was brought to today's form
  bool empty() const { return added.empty() && updated.empty(); }
};

// Adds the hook to each event that lacks one and updates the ones there, refusing members of an
// unexpected type rather than replacing them, and a file that the agent would ignore.
// `settings` is unchanged when nothing changed.
HookChanges addHooks(Json& settings, const AgentHooks& agent, const std::string& command,
                     const std::string& file);

// Removes every entry of ours from the agent's events and prunes what that leaves empty.
// Returns how many entries went; `settings` is unchanged when none did.
std::int64_t removeHooks(Json& settings, const AgentHooks& agent);

// The agent's file: below its folder's variable when that holds an absolute path, else below
// the home directory; a variable set to a relative path is refused rather than guessed at.
std::filesystem::path agentFile(const AgentHooks& agent, const HookEnvironment& environment);

std::string installHooks(const AgentHooks& agent, const HookEnvironment& environment);
std::string uninstallHooks(const AgentHooks& agent, const HookEnvironment& environment);
// Whether our hook is in the agent's file now, in a few words; reads and writes nothing else.
std::string hookState(const AgentHooks& agent, const HookEnvironment& environment);

// Entries marked as ours by a member holding "wexla".
bool isMarkedOurs(const Json& entry, const char* marker);
// Commands that name the tool and run "busy", its path quoted or not.
bool isOurCommand(std::string_view command);
// Entries recognised by their command.
bool runsOurCommand(const Json& entry);
// Entries whose `member` runs our command, followed or not by " || true".
bool runsOurCommandOrTrue(const Json& entry, const char* member);

// A hook command that cannot fail: for agents that block the prompt or tool on a failing hook.
inline constexpr std::string_view kCannotFail = " || true";

// A file of our own that is a hooks file the agent reads whole: its text is what installing into
// an empty document gives, and it is ours while it holds our entries and nothing of anyone else.
std::string ownHooksFileText(const AgentHooks& agent, const std::string& executable);
bool isOurHooksFile(const AgentHooks& agent, const std::string& bytes);

// The operations every installer offers; `Agent` supplies its parameters.
template <typename Agent>
struct AgentInstaller {
  static std::string install(const HookEnvironment& environment) {
    return installHooks(Agent::agent(), environment);
  }
  static std::string uninstall(const HookEnvironment& environment) {
    return uninstallHooks(Agent::agent(), environment);
  }
};

// One agent's error type: a single case whose description is the agent's fixed text.
template <typename Agent>
class AgentHookError : public std::exception {
 public:
  enum class Case { notAnObject };
  static constexpr Case notAnObject = Case::notAnObject;

  explicit AgentHookError(Case errorCase = Case::notAnObject) noexcept : case_(errorCase) {}
  Case errorCase() const noexcept { return case_; }
  const char* what() const noexcept override { return Agent::notAnObjectDescription; }
  friend bool operator==(const AgentHookError& a, const AgentHookError& b) noexcept {
    return a.case_ == b.case_;
  }

 private:
  Case case_;
};

}  // namespace wexla::cli

template <typename Agent>
struct std::hash<wexla::cli::AgentHookError<Agent>> {
  std::size_t operator()(const wexla::cli::AgentHookError<Agent>& error) const noexcept {
    return std::hash<int>()(static_cast<int>(error.errorCase()));
  }
};
