#include "Notices.hpp"

#include "MenuModel.hpp"
#include "StatusText.hpp"

namespace wexla::app {

std::optional<Notice> Notices::after(const Application& app, const Now& now) {
  const Indicator shown = indicator(app, now);
  const bool troubled = shown == Indicator::trouble;
  if (troubled == troubled_) return std::nullopt;
  troubled_ = troubled;
  if (!enabled_) return std::nullopt;
  if (troubled) {
    return Notice{Notice::Kind::trouble,
                  "Wexla không giữ được máy thức / Wexla cannot keep the machine awake",
                  std::string(linkWarning(app.link()).value_or(""))};
  }
  if (shown != Indicator::held) return std::nullopt;
  return Notice{Notice::Kind::heldAgain,
                "Wexla giữ máy thức trở lại / Wexla holds the machine awake again",
                app.statusLine(now)};
}

}  // namespace wexla::app
