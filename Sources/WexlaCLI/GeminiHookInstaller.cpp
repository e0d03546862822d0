#include "GeminiHookInstaller.hpp"

namespace wexla::cli {

namespace {

// Gemini CLI denies the prompt or tool call on any exit status but 0 and 1, so a hook whose tool
// was removed would block every prompt: the command cannot fail.
constexpr std::string_view kCannotFail = " || true";

bool isOurs(const Json& entry) {
  if (isMarkedOurs(entry, "name")) return true;
  const auto command = entry.find("command");
  if (command == entry.end() || !command->is_string()) return false;
  std::string_view text = command->get_ref<const std::string&>();
  if (text.ends_with(kCannotFail)) text.remove_suffix(kCannotFail.size());
  return isOurCommand(text);
}

Json makeEntry(const std::string& command) {
  return {{"type", "command"}, {"command", command + std::string(kCannotFail)}, {"name", "wexla"}};
}

// Entries written before the command could not fail; the path they run stays as it is.
bool update(Json& entry) {
  if (!runsOurCommand(entry)) return false;
  entry["command"].get_ref<std::string&>() += kCannotFail;
  return true;
}

[[noreturn]] void notAnObject() { throw GeminiHookError(); }

}  // namespace

const AgentHooks& GeminiHooks::agent() {
  static const AgentHooks hooks{
      "Gemini CLI",
      ".gemini/settings.json",
      events,
      true,
      &isOurs,
      &makeEntry,
      &update,
      {},
      false,
      ".wexla-backup). Restart Gemini CLI to load it.\n  Undo any time: wexlactl "
      "uninstall-gemini-hooks",
      "). Restart Gemini CLI to apply.",
      &notAnObject,
  };
  return hooks;
}

}  // namespace wexla::cli
