#pragma once

#include <array>
#include <string_view>

#include "HookEditor.hpp"

namespace wexla::cli {

// The "busy" heartbeat in the Cursor agent's hook file, ~/.cursor/hooks.json.
struct CursorHooks : AgentInstaller<CursorHooks> {
  static constexpr std::array<std::string_view, 3> events{"beforeShellExecution", "afterFileEdit",
                                                          "beforeSubmitPrompt"};
  static constexpr const char* notAnObjectDescription =
      "~/.cursor/hooks.json is not a JSON object \u2014 refusing to modify it. Fix it by hand "
      "first.";
  static const AgentHooks& agent();
};

using CursorHookError = AgentHookError<CursorHooks>;

}  // namespace wexla::cli
