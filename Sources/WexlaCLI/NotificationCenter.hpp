#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace wexla::cli {

// The system-wide notification center that the tool and the application share: the
// distributed center on macOS, a signal on the session bus elsewhere. Every operation answers
// false rather than failing when the center cannot be reached.
class NotificationCenter {
 public:
  // Called for each notification of the observed name; `object` is null when the notification
  // carries no text.
  using Handler = std::function<void(const std::string* object)>;

  virtual ~NotificationCenter() = default;

  // In force at the center when this returns true, so a reply to a later post cannot be missed.
  virtual bool addObserver(std::string_view name, Handler handler) = 0;
  virtual void removeObserver() = 0;
  // Delivered immediately, with the text as the notification's object and nothing else.
  virtual bool post(std::string_view name, std::string_view object) = 0;
  // Delivers notifications for at most `seconds`, or until a handler calls stop().
  virtual void run(double seconds) = 0;
  virtual void stop() = 0;
};

// The platform's default center; connecting is deferred to the first operation.
std::unique_ptr<NotificationCenter> makeDistributedCenter();

}  // namespace wexla::cli
