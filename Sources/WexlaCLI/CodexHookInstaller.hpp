#pragma once

#include <array>
#include <string_view>

#include "HookEditor.hpp"

namespace wexla::cli {

// The "busy" heartbeat in Codex's hook file, ~/.codex/hooks.json.
struct CodexHooks : AgentInstaller<CodexHooks> {
  static constexpr std::array<std::string_view, 2> events{"PreToolUse", "UserPromptSubmit"};
  static constexpr const char* notAnObjectDescription =
      "~/.codex/hooks.json is not a JSON object \u2014 refusing to modify it. Fix it by hand "
      "first.";
  static const AgentHooks& agent();
};

using CodexHookError = AgentHookError<CodexHooks>;

}  // namespace wexla::cli
