#include "Notices.hpp"

#include <utility>

#include "MenuModel.hpp"
#include "StatusText.hpp"

namespace wexla::app {

std::optional<Notice> Notices::after(const Application& app, const Now& now) {
  const Indicator shown = indicator(app, now);
  const bool troubled = shown == Indicator::trouble;
  bool tellTrouble = false;
  if (troubled != troubled_) {
    troubled_ = troubled;
    if (!troubled) {
      const bool wasTold = std::exchange(told_, false);
      if (!wasTold || shown != Indicator::held) return std::nullopt;
      return Notice{Notice::Kind::heldAgain,
                    "Wexla giữ máy thức trở lại / Wexla holds the machine awake again",
                    app.statusLine(now)};
    }
    tellTrouble = enabled_ && limiter_.occurred(now.boot) > 0;
  } else if (troubled_ && !told_ && enabled_) {
    tellTrouble = limiter_.heldBack(now.boot) > 0;
  }
  if (!tellTrouble) return std::nullopt;
  told_ = true;
  return Notice{Notice::Kind::trouble,
                "Wexla không giữ được máy thức / Wexla cannot keep the machine awake",
                std::string(linkWarning(app.link()).value_or(""))};
}

}  // namespace wexla::app
