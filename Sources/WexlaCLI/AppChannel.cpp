#include "AppChannel.hpp"

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

void postWithoutWaiting(NotificationCenter& center, std::string_view text) {
  center.post(channel::kCommandName, text);
}

std::optional<std::string> requestReply(NotificationCenter& center, std::string_view text,
                                        double waitSeconds) {
  ReplyBox box;
  const bool observing = center.addObserver(channel::kStatusName, [&](const std::string* object) {
    if (object == nullptr) return;
    box.store(*object);
    center.stop();
  });
  // Without a center nobody can answer: fail at once instead of waiting in vain.
  if (!observing) return std::nullopt;
  if (center.post(channel::kCommandName, text)) center.run(waitSeconds);
  center.removeObserver();
  return box.read();
}

}  // namespace wexla::cli
