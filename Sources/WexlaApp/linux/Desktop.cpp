#include "Desktop.hpp"

#include "WexlactlRun.hpp"

namespace wexla::app {

Desktop::Desktop(sd_bus* session, sd_event* event, Application& app, bool notifications,
                 std::function<void()> quit)
    : event_(event),
      app_(app),
      quit_(std::move(quit)),
      themePath_(iconThemePath()),
      notices_(notifications),
      notifications_(session),
      tray_(session, event, *this, themePath_) {}

void Desktop::statusChanged() {
  tray_.changed();
  const Now now = Now::current();
  if (const auto notice = notices_.after(app_, now)) {
    notifications_.show(notice->title, notice->body, iconFor(app::indicator(app_, now)), true);
  }
}

std::vector<MenuItem> Desktop::menu() {
  return menuItems(app_, Now::current(), LoginItem::unavailable);
}

Indicator Desktop::indicator() { return app::indicator(app_, Now::current()); }

std::string Desktop::statusLine() { return app_.statusLine(Now::current()); }

void Desktop::choose(const MenuItem& item) {
  switch (item.kind) {
    case MenuItem::Kind::command:
      // As a text from wexlactl; its reply is for wexlactl, the icon shows the status.
      app_.handle(item.argument, Now::current());
      break;
    case MenuItem::Kind::endManual:
      app_.endManualHold(Now::current());
      break;
    case MenuItem::Kind::hook:
      runWexlactl(event_, item.argument, [this](int status, const std::string& output) {
        notifications_.show("Wexla", hookMessage(status, output), iconFor(indicator()), false);
      });
      break;
    case MenuItem::Kind::quit:
      quit_();
      break;
    default:
      break;
  }
}

std::string Desktop::iconFor(Indicator shown) const {
  const std::string name = iconName(shown);
  if (themePath_.empty()) return name;
  return themePath_ + "/hicolor/scalable/status/" + name + ".svg";
}

}  // namespace wexla::app
