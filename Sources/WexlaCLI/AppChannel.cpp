#include "AppChannel.hpp"

#include <algorithm>
#include <utility>

namespace wexla::cli {

void ReplyBox::store(std::string text) {
  const std::lock_guard guard(lock_);
  value_ = std::move(text);
}

std::optional<std::string> ReplyBox::read() {
  const std::lock_guard guard(lock_);
  return value_;
}

bool isFireAndForget(std::string_view text) {
  return std::any_of(fireAndForgetPrefixes.begin(), fireAndForgetPrefixes.end(),
                     [&](std::string_view prefix) { return text.starts_with(prefix); });
}

void postWithoutWaiting(NotificationCenter& center, std::string_view text) {
  center.post(commandName, text);
}

std::optional<std::string> requestReply(NotificationCenter& center, std::string_view text,
                                        double waitSeconds) {
  ReplyBox box;
  const bool observing = center.addObserver(statusName, [&](const std::string* object) {
    if (object == nullptr) return;
    box.store(*object);
    center.stop();
  });
  // Without a center nobody can answer: fail at once instead of waiting in vain.
  if (!observing) return std::nullopt;
  if (center.post(commandName, text)) center.run(waitSeconds);
  center.removeObserver();
  return box.read();
}

}  // namespace wexla::cli
