#pragma once

#include <optional>
#include <string>

#include "AppTime.hpp"
#include "Application.hpp"
#include "RepeatLimiter.hpp"

namespace wexla::app {

// Something to tell the person outside the menu: the machine stopped being held while something
// holds it, or it is held again after that. A platform shows the second in place of the first.
struct Notice {
  enum class Kind { trouble, heldAgain };
  Kind kind = Kind::trouble;
  std::string title;
  std::string body;

  bool operator==(const Notice&) const = default;
};

// Decides when to tell: once as trouble begins (the status line's warning is the reason), once
// when the helper holds again, and never per retry, per tick or per command text. An episode that
// ends because every hold ended is not told. Anyone on the session can start and end holds, so
// trouble is told at most a few times a minute; one held back is told once that minute is over,
// if it lasts, and its end is told only if it was.
class Notices {
 public:
  // Turned off, it tells nothing but still follows the application.
  explicit Notices(bool enabled) : enabled_(enabled) {}

  // After each change of the application: what to tell now, if anything. Cheap when nothing is.
  std::optional<Notice> after(const Application& app, const Now& now);

 private:
  bool enabled_;
  bool troubled_ = false;
  bool told_ = false;  // of the trouble under way
  base::RepeatLimiter limiter_;
};

}  // namespace wexla::app
