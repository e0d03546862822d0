#include "Entry.hpp"

#include <unistd.h>

#include <cerrno>
#include <exception>
#include <optional>

#include "AppChannel.hpp"
#include "CommandText.hpp"
#include "HeldCommand.hpp"
#include "HookAgents.hpp"

namespace wexla::cli {

namespace {

constexpr int kStatusOK = 0;
constexpr int kStatusFailure = 1;
constexpr int kStatusUsage = 2;

// install-WORD-hooks and uninstall-WORD-hooks for each agent, in the table's order, and `hooks`:
// words of this tool alone, never sent to the application.
std::optional<Outcome> runLocalWord(std::string_view first, const char* programName) {
  constexpr std::string_view kInstall = "install-";
  constexpr std::string_view kUninstall = "uninstall-";
  constexpr std::string_view kHooks = "-hooks";
  try {
    if (first == "hooks") {
      return Outcome{kStatusOK, hooksReport(HookEnvironment::current(programName)), {}};
    }
    const bool install = first.starts_with(kInstall);
    if (!(install || first.starts_with(kUninstall)) || !first.ends_with(kHooks)) return {};
    first.remove_prefix(install ? kInstall.size() : kUninstall.size());
    if (first.size() < kHooks.size()) return {};
    const AgentHooks* agent = findHookAgent(first.substr(0, first.size() - kHooks.size()));
    if (agent == nullptr) return {};
    const HookEnvironment environment = HookEnvironment::current(programName);
    return Outcome{
        kStatusOK, (install ? installHooks : uninstallHooks)(*agent, environment) + '\n', {}};
  } catch (const std::exception& error) {
    return Outcome{kStatusFailure, {}, std::string(error.what()) + '\n'};
  }
}

}  // namespace

Outcome runCommand(const std::vector<std::string>& rawArgs, CenterFactory makeCenter,
                   const char* programName) {
  if (!rawArgs.empty()) {
    if (std::optional<Outcome> local = runLocalWord(rawArgs.front(), programName)) return *local;
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
