#include "CodexHookInstaller.hpp"

namespace wexla::cli {

namespace {

Json makeEntry(const std::string& command) { return {{"type", "command"}, {"command", command}}; }

// Codex rejects a file with any other top-level member, and then runs none of its hooks.
constexpr std::string_view kRootMembers[] = {"hooks", "description"};

[[noreturn]] void notAnObject() { throw CodexHookError(); }

}  // namespace

const AgentHooks& CodexHooks::agent() {
  // Codex trusts a hook by its place and its exact text: an entry there is never rewritten.
  static const AgentHooks hooks{
      "Codex",
      ".codex/hooks.json",
      events,
      true,
      &runsOurCommand,
      &makeEntry,
      nullptr,
      kRootMembers,
      false,
      ".wexla-backup).\n  IMPORTANT: run /hooks in Codex once to TRUST it \u2014 until then it "
      "won't fire.\n  Undo any time: wexlactl uninstall-codex-hooks",
      "). Restart Codex to apply.",
      &notAnObject,
  };
  return hooks;
}

}  // namespace wexla::cli
