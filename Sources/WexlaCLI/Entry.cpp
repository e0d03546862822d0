#include "Entry.hpp"

#include "AppChannel.hpp"
#include "CommandText.hpp"

namespace wexla::cli {

namespace {

constexpr int kStatusOK = 0;
constexpr int kStatusFailure = 1;
constexpr int kStatusUsage = 2;

}  // namespace

Outcome runCommand(const std::vector<std::string>& rawArgs, CenterFactory makeCenter) {
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

}  // namespace wexla::cli
