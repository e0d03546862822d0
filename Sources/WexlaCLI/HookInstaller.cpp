#include "HookInstaller.hpp"

namespace wexla::cli {

namespace {

bool isOurs(const Json& entry) { return isMarkedOurs(entry, "_origin"); }

Json makeEntry(const std::string& command) {
  return {{"type", "command"}, {"command", command}, {"_origin", "wexla"}};
}

[[noreturn]] void notAnObject() { throw HookError(); }

}  // namespace

const AgentHooks& ClaudeHooks::agent() {
  static const AgentHooks hooks{
      ".claude/settings.json",
      events,
      true,
      &isOurs,
      &makeEntry,
      false,
      ".wexla-backup). Restart Claude Code to load it.\n  Undo any time: wexlactl "
      "uninstall-claude-hooks",
      "). Restart Claude Code to apply.",
      &notAnObject,
  };
  return hooks;
}

}  // namespace wexla::cli
