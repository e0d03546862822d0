#include "CursorHookInstaller.hpp"

namespace wexla::cli {

namespace {

Json makeEntry(const std::string& command) { return {{"command", command}}; }

[[noreturn]] void notAnObject() { throw CursorHookError(); }

}  // namespace

const AgentHooks& CursorHooks::agent() {
  static const AgentHooks hooks{
      "Cursor",
      ".cursor/hooks.json",
      events,
      false,
      &runsOurCommand,
      &makeEntry,
      nullptr,
      {},
      true,
      ".wexla-backup). Restart the Cursor agent to load it.\n  Undo any time: wexlactl "
      "uninstall-cursor-hooks",
      "). Restart the Cursor agent to apply.",
      &notAnObject,
  };
  return hooks;
}

}  // namespace wexla::cli
