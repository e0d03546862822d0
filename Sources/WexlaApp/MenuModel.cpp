#include "MenuModel.hpp"

#include "ApplicationChannel.hpp"
#include "StatusText.hpp"

namespace wexla::app {

namespace {

MenuItem entry(MenuItem::Kind kind, std::string title = {}, std::string argument = {},
               bool enabled = true, bool checked = false) {
  MenuItem item;
  item.kind = kind;
  item.title = std::move(title);
  item.argument = std::move(argument);
  item.enabled = enabled;
  item.checked = checked;
  return item;
}

MenuItem hooksMenu() {
  MenuItem menu = entry(MenuItem::Kind::submenu, "Hook cho agent AI / AI agent hooks");
  for (const channel::HookAgent& agent : channel::kHookAgents) {
    if (!menu.items.empty()) menu.items.push_back(entry(MenuItem::Kind::separator));
    const std::string name(agent.name);
    const std::string word(agent.word);
    menu.items.push_back(entry(MenuItem::Kind::hook,
                               "Cài hook " + name + " / Install " + name + " hooks",
                               "install-" + word + "-hooks"));
    menu.items.push_back(entry(MenuItem::Kind::hook,
                               "Gỡ hook " + name + " / Uninstall " + name + " hooks",
                               "uninstall-" + word + "-hooks"));
  }
  return menu;
}

// Where the helper stands, then the step that comes next.
std::vector<MenuItem> helperEntries(HelperInstall helper) {
  using Kind = MenuItem::Kind;
  const auto state = [](std::string title) {
    return entry(Kind::label, std::move(title), {}, false);
  };
  const MenuItem install = entry(Kind::installHelper, "Cài helper… / Install helper…");
  const MenuItem uninstall = entry(Kind::uninstallHelper, "Gỡ helper / Uninstall helper");
  switch (helper) {
    case HelperInstall::unavailable:
      break;
    case HelperInstall::notRegistered:
      return {state("Helper chưa được cài / Helper not installed"), install};
    case HelperInstall::awaitingApproval:
      return {state("Helper đang chờ được cho phép / Helper awaiting approval"),
              entry(Kind::openLoginItems,
                    "Mở Mục đăng nhập để cho phép helper / Open Login Items to allow the helper"),
              uninstall};
    case HelperInstall::enabled:
      return {state("Helper đã được cài / Helper installed"), uninstall};
    case HelperInstall::notFound:
      // Registering again puts it back, or says why it cannot.
      return {state("macOS không tìm thấy helper / macOS cannot find the helper"), install};
    case HelperInstall::byHand:
      // Removed the way it was installed; registering a second job of its name would clash.
      return {state("Helper đã được cài bằng tay / Helper installed by hand")};
  }
  return {};
}

}  // namespace

Indicator indicator(const Application& app, const Now& now) {
  if (app.held(now)) return Indicator::held;
  if (app.holds().any(now.boot) && linkWarning(app.link())) return Indicator::trouble;
  return Indicator::idle;
}

std::vector<MenuItem> menuItems(const Application& app, const Now& now, LoginItem login,
                                HelperInstall helper) {
  const bool manual = app.holds().manual();
  using Kind = MenuItem::Kind;
  const std::string keepAwake = "Giữ máy thức / Keep awake";
  std::vector<MenuItem> items{
      entry(Kind::label, app.statusLine(now), {}, false),
      entry(Kind::separator),
      // Unticking it ends the manual hold alone, which no command text can say: `off` would end
      // the agents', the timer's and the processes' holds too.
      manual ? entry(Kind::endManual, keepAwake, {}, true, true)
             : entry(Kind::command, keepAwake, "on"),
      entry(Kind::command, "1 giờ / 1 hour", "extend 60"),
      entry(Kind::command, "2 giờ / 2 hours", "extend 120"),
      entry(Kind::command, "Tắt / Off", "off", app.holds().any(now.boot)),
      entry(Kind::separator),
      hooksMenu(),
      entry(Kind::separator),
  };
  std::vector<MenuItem> helperPart = helperEntries(helper);
  if (!helperPart.empty()) {
    items.insert(items.end(), helperPart.begin(), helperPart.end());
    items.push_back(entry(Kind::separator));
  }
  if (login == LoginItem::awaitingApproval) {
    // Turning it on again would change nothing: the way on is the person's, in Login Items.
    items.push_back(entry(Kind::openLoginItems,
                          "Mở khi đăng nhập — đang chờ được cho phép / Start at login — awaiting "
                          "approval"));
    items.push_back(entry(Kind::separator));
  } else if (login != LoginItem::unavailable) {
    items.push_back(entry(Kind::startAtLogin, "Mở khi đăng nhập / Start at login", {}, true,
                          login == LoginItem::on));
    items.push_back(entry(Kind::separator));
  }
  items.push_back(entry(Kind::quit, "Thoát Wexla / Quit Wexla"));
  return items;
}

}  // namespace wexla::app
