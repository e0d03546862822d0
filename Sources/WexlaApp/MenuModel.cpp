#include "MenuModel.hpp"

#include <array>

#include "StatusText.hpp"

namespace wexla::app {

namespace {

struct Agent {
  std::string_view word;  // as in wexlactl's install-WORD-hooks
  std::string_view name;
};

constexpr std::array<Agent, 4> kAgents{{
    {"claude", "Claude Code"},
    {"codex", "Codex"},
    {"gemini", "Gemini CLI"},
    {"cursor", "Cursor"},
}};

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
  for (const Agent& agent : kAgents) {
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

}  // namespace

Indicator indicator(const Application& app, const Now& now) {
  if (app.held(now)) return Indicator::held;
  if (app.holds().any(now.boot) && linkWarning(app.link())) return Indicator::trouble;
  return Indicator::idle;
}

std::vector<MenuItem> menuItems(const Application& app, const Now& now, LoginItem login) {
  const bool manual = app.holds().manual();
  using Kind = MenuItem::Kind;
  std::vector<MenuItem> items{
      entry(Kind::label, app.statusLine(now), {}, false),
      entry(Kind::separator),
      // Unticking it is `off`, as the command line has no way to end the manual hold alone.
      entry(Kind::command, "Giữ máy thức / Keep awake", manual ? "off" : "on", true, manual),
      entry(Kind::command, "1 giờ / 1 hour", "extend 60"),
      entry(Kind::command, "2 giờ / 2 hours", "extend 120"),
      entry(Kind::command, "Tắt / Off", "off", app.holds().any(now.boot)),
      entry(Kind::separator),
      hooksMenu(),
      entry(Kind::separator),
  };
  if (login != LoginItem::unavailable) {
    items.push_back(entry(Kind::startAtLogin, "Mở khi đăng nhập / Start at login", {}, true,
                          login == LoginItem::on));
    items.push_back(entry(Kind::separator));
  }
  items.push_back(entry(Kind::quit, "Thoát Wexla / Quit Wexla"));
  return items;
}

std::string hookMessage(int status, std::string_view output) {
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) {
    output.remove_suffix(1);
  }
  if (status < 0 || output.empty()) {
    return "không chạy được wexlactl trong Wexla.app / wexlactl in Wexla.app could not run";
  }
  return std::string(output);
}

}  // namespace wexla::app
