#include "CodexHookInstaller.hpp"

namespace wexla::cli {

namespace {

Json makeEntry(const std::string& command) { return {{"type", "command"}, {"command", command}}; }

[[noreturn]] void notAnObject() { throw CodexHookError(); }

}  // namespace

const AgentHooks& CodexHooks::agent() {
  static const AgentHooks hooks{
      ".codex/hooks.json",
      events,
      true,
      &runsOurCommand,
      &makeEntry,
      false,
      ".wexla-backup).\n  IMPORTANT: run /hooks in Codex once to TRUST it \u2014 until then it "
      "won't fire.\n  Undo any time: wexlactl uninstall-codex-hooks",
      "). Restart Codex to apply.",
      &notAnObject,
  };
  return hooks;
}

}  // namespace wexla::cli
