#include "HookInstaller.hpp"

namespace wexla::cli {

namespace {

// Claude Code drops members it does not know when it rewrites the file, our marker among them.
bool isOurs(const Json& entry) { return isMarkedOurs(entry, "_origin") || runsOurCommand(entry); }

Json makeEntry(const std::string& command) {
  return {{"type", "command"}, {"command", command}, {"_origin", "wexla"}};
}

[[noreturn]] void notAnObject() { throw HookError(); }

}  // namespace

const AgentHooks& ClaudeHooks::agent() {
  static const AgentHooks hooks{
      "Claude Code",
      ".claude/settings.json",
      events,
      true,
      &isOurs,
      &makeEntry,
      nullptr,
      {},
      false,
      ".wexla-backup). Restart Claude Code to load it.\n  Undo any time: wexlactl "
      "uninstall-claude-hooks",
      "). Restart Claude Code to apply.",
      &notAnObject,
  };
  return hooks;
}

}  // namespace wexla::cli
