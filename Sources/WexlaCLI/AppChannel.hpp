#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "ApplicationChannel.hpp"
#include "NotificationCenter.hpp"

namespace wexla::cli {

inline constexpr double kReplyWaitSeconds = 2.0;
inline constexpr std::string_view noReplyMessage =
    "Wexla kh\u00F4ng ph\u1EA3n h\u1ED3i \u2014 app \u0111ang ch\u1EA1y ch\u1EE9?\n";

// Holds the application's reply for one run; the reply may be delivered on another thread.
class ReplyBox {
 public:
  void store(std::string text);
  std::optional<std::string> read();

 private:
  std::mutex lock_;
  std::optional<std::string> value_;
};

// Heartbeats and similar texts are posted without waiting for the application.
using channel::isFireAndForget;

// Posts the text; whether anybody received it cannot be known and is not reported.
void postWithoutWaiting(NotificationCenter& center, std::string_view text);

// Posts the text and waits for the application's status text, which ends the wait early.
// Nothing when no reply came in time or the center could not be reached.
std::optional<std::string> requestReply(NotificationCenter& center, std::string_view text,
                                        double waitSeconds = kReplyWaitSeconds);

}  // namespace wexla::cli
