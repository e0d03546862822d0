#include "GeminiHookInstaller.hpp"

namespace wexla::cli {

namespace {

bool isOurs(const Json& entry) { return isMarkedOurs(entry, "name"); }

Json makeEntry(const std::string& command) {
  return {{"type", "command"}, {"command", command}, {"name", "wexla"}};
}

[[noreturn]] void notAnObject() { throw GeminiHookError(); }

}  // namespace

const AgentHooks& GeminiHooks::agent() {
  static const AgentHooks hooks{
      ".gemini/settings.json",
      events,
      true,
      &isOurs,
      &makeEntry,
      false,
      ".wexla-backup). Restart Gemini CLI to load it.\n  Undo any time: wexlactl "
      "uninstall-gemini-hooks",
      "). Restart Gemini CLI to apply.",
      &notAnObject,
  };
  return hooks;
}

}  // namespace wexla::cli
