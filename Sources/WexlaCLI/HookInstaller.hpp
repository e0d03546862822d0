#pragma once

#include <array>
#include <string_view>

#include "HookEditor.hpp"

namespace wexla::cli {

// The "busy" heartbeat in Claude Code's user settings, ~/.claude/settings.json.
struct ClaudeHooks : AgentInstaller<ClaudeHooks> {
  static constexpr std::array<std::string_view, 2> events{"PreToolUse", "UserPromptSubmit"};
  static constexpr const char* notAnObjectDescription =
      "~/.claude/settings.json is not a JSON object \u2014 refusing to modify it. Fix it by hand "
      "first.";
  static const AgentHooks& agent();
};

using HookError = AgentHookError<ClaudeHooks>;

}  // namespace wexla::cli
