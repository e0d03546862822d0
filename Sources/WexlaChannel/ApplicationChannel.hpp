#pragma once
// How wexlactl and the application speak: one notification carries a command text to the
// application, another carries its reply back. Both programs build on these names alone, so a
// drift between them cannot happen.
#include <array>
#include <string_view>

namespace wexla::channel {

// The notification names, and the object that carries them.
inline constexpr const char* kCommandName = "dev.wexla.command";
inline constexpr const char* kStatusName = "dev.wexla.status";

// Linux: a broadcast signal on the session bus stands for the distributed center.
inline constexpr const char* kCenterPath = "/dev/wexla/DistributedNotificationCenter";
inline constexpr const char* kCenterInterface = "dev.wexla.DistributedNotificationCenter";
inline constexpr const char* kCenterSignal = "Notification";
// The application's own name on the session bus: one application a session.
inline constexpr const char* kApplicationBusName = "dev.wexla.app";

// Texts that begin with one of these words are posted without waiting, and so are never
// answered: a reply to one would be taken by another wexlactl waiting at that moment.
inline constexpr std::array<std::string_view, 3> kFireAndForgetWords{"busy", "working",
                                                                     "heartbeat"};

// A plain prefix test on the whole text ("busybox" too): the tool's rule, which the application
// must follow to the letter.
constexpr bool isFireAndForget(std::string_view text) {
  for (const std::string_view word : kFireAndForgetWords) {
    if (text.starts_with(word)) return true;
  }
  return false;
}

// The agents whose hooks wexlactl installs, in the order of its words install-WORD-hooks and
// uninstall-WORD-hooks: the application's menu offers each under its name.
struct HookAgent {
  const char* word;
  const char* name;
};
inline constexpr std::array<HookAgent, 8> kHookAgents{{
    {"claude", "Claude Code"},
    {"codex", "Codex"},
    {"gemini", "Gemini CLI"},
    {"cursor", "Cursor"},
    {"copilot", "GitHub Copilot CLI"},
    {"qwen", "Qwen Code"},
    {"opencode", "opencode"},
    {"kilo", "Kilo Code"},
}};

}  // namespace wexla::channel
