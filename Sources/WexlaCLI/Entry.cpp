#include "Entry.hpp"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <exception>

#include "AppChannel.hpp"
#include "CodexHookInstaller.hpp"
#include "CommandText.hpp"
#include "CursorHookInstaller.hpp"
#include "GeminiHookInstaller.hpp"
#include "HeldCommand.hpp"
#include "HookInstaller.hpp"

namespace wexla::cli {

namespace {

constexpr int kStatusOK = 0;
constexpr int kStatusFailure = 1;
constexpr int kStatusUsage = 2;

struct HookWord {
  std::string_view word;
  std::string (*operation)(const HookEnvironment&);
};

constexpr std::array<HookWord, 8> kHookWords{{
    {"install-claude-hooks", &ClaudeHooks::install},
    {"uninstall-claude-hooks", &ClaudeHooks::uninstall},
    {"install-codex-hooks", &CodexHooks::install},
    {"uninstall-codex-hooks", &CodexHooks::uninstall},
    {"install-gemini-hooks", &GeminiHooks::install},
    {"uninstall-gemini-hooks", &GeminiHooks::uninstall},
    {"install-cursor-hooks", &CursorHooks::install},
    {"uninstall-cursor-hooks", &CursorHooks::uninstall},
}};

Outcome runHookWord(const HookWord& hook, const char* programName) {
  try {
    return {kStatusOK, hook.operation(HookEnvironment::current(programName)) + '\n', {}};
  } catch (const std::exception& error) {
    return {kStatusFailure, {}, std::string(error.what()) + '\n'};
  }
}

}  // namespace

Outcome runCommand(const std::vector<std::string>& rawArgs, CenterFactory makeCenter,
                   const char* programName) {
  if (!rawArgs.empty()) {
    for (const HookWord& hook : kHookWords) {
      if (rawArgs.front() == hook.word) return runHookWord(hook, programName);
    }
    if (rawArgs.front() == kRunWord) {
      if (rawArgs.size() == 1) return {kStatusUsage, {}, std::string(runUsage) + '\n'};
      return runHeldCommand({rawArgs.begin() + 1, rawArgs.end()}, makeCenter);
    }
  }
  const std::optional<std::string> text = commandText(rawArgs);
  if (!text) return {kStatusUsage, std::string(usage) + '\n', {}};

  const std::unique_ptr<NotificationCenter> center = makeCenter();
  if (isFireAndForget(*text)) {
    postWithoutWaiting(*center, *text);
    return {kStatusOK, {}, {}};
  }
  if (const std::optional<std::string> reply = requestReply(*center, *text)) {
    return {kStatusOK, *reply + '\n', {}};
  }
  return {kStatusFailure, {}, std::string(noReplyMessage)};
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace wexla::cli
