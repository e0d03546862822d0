#pragma once

#include <array>
#include <string_view>

#include "HookEditor.hpp"

namespace wexla::cli {

// The "busy" heartbeat in Gemini CLI's user settings, ~/.gemini/settings.json.
struct GeminiHooks : AgentInstaller<GeminiHooks> {
  static constexpr std::array<std::string_view, 2> events{"BeforeTool", "BeforeAgent"};
  static constexpr const char* notAnObjectDescription =
      "~/.gemini/settings.json is not a JSON object \u2014 refusing to modify it. Fix it by hand "
      "first.";
  static const AgentHooks& agent();
};

using GeminiHookError = AgentHookError<GeminiHooks>;

}  // namespace wexla::cli
