#include <gtest/gtest.h>

#include "FakeWorld.hpp"
#include "MenuModel.hpp"

namespace wexla::app {
namespace {

// The menu each state leaves, one row a state: the symbol, then each entry as its command text or
// wexlactl word, or else the English half of its title ("-" for none, "status" for the status
// line), ticked with "✓" and greyed out in parentheses. "untick" chooses the ticked Keep awake.
TEST_F(ApplicationTest, TheMenuFollowsTheApplication) {
  const auto entries = [](const std::vector<MenuItem>& items) {
    std::string text;
    for (const MenuItem& item : items) {
      const std::size_t half = item.title.rfind(" / ");
      std::string entry = !item.argument.empty()      ? item.argument
                          : &item == &items.front()   ? "status"
                          : half != std::string::npos ? item.title.substr(half + 3)
                                                      : "-";
      if (item.checked) entry = "✓" + entry;
      text += (text.empty() ? "" : ", ") + (item.enabled ? entry : "(" + entry + ")");
    }
    return text;
  };
  struct Row {
    std::vector<std::string> actions;
    std::optional<HelperAnswer> answer;  // to every call to the helper
    LoginItem login;
    HelperInstall helper;
    Indicator symbol;
    std::string menu;
  };
  using enum Indicator;
  using enum HelperInstall;
  const std::string top = "(status), -, on, extend 60, extend 120, off, -, AI agent hooks, -, ";
  // clang-format off
  const Row rows[] = {
      {{"status"}, HelperAnswer::yes, LoginItem::unavailable, unavailable, idle,
       "(status), -, on, extend 60, extend 120, (off), -, AI agent hooks, -, Quit Wexla"},
      {{"on"}, HelperAnswer::yes, LoginItem::off, notRegistered, held,
       "(status), -, ✓Keep awake, extend 60, extend 120, off, -, AI agent hooks, -, (Helper not installed), Install helper…, -, Start at login, -, Quit Wexla"},
      {{"extend 60"}, HelperAnswer::refused, LoginItem::on, awaitingApproval, trouble,
       top + "(Helper awaiting approval), Open Login Items to allow the helper, Uninstall helper, -, ✓Start at login, -, Quit Wexla"},
      {{"busy"}, std::nullopt, LoginItem::unavailable, enabled, idle,  // the helper's answer is on the way
       top + "(Helper installed), Uninstall helper, -, Quit Wexla"},
      // Unticking ends the manual hold alone: the agent's stays.
      {{"busy", "on", "untick"}, HelperAnswer::yes, LoginItem::off, notFound, held,
       top + "(macOS cannot find the helper), Install helper…, -, Start at login, -, Quit Wexla"},
      {{"status"}, HelperAnswer::yes, LoginItem::awaitingApproval, enabled, idle,
       top.substr(0, top.find("off")) + "(off), -, AI agent hooks, -, (Helper installed), Uninstall helper, -, Start at login — awaiting approval, -, Quit Wexla"},
      {{"on", "untick"}, HelperAnswer::yes, LoginItem::unavailable, byHand, idle,
       "(status), -, on, extend 60, extend 120, (off), -, AI agent hooks, -, (Helper installed by hand), -, Quit Wexla"},
  };
  // clang-format on
  for (const Row& row : rows) {
    FakeWorld fresh;
    fresh.answer = row.answer;
    Application application(Settings{}, fresh, fresh, fresh, fresh);
    for (const std::string& action : row.actions) {
      if (action != "untick") {
        application.handle(action, kStart);
        continue;
      }
      const auto items = menuItems(application, kStart, row.login, row.helper);
      ASSERT_EQ(items[2].kind, MenuItem::Kind::endManual) << row.menu;
      application.endManualHold(kStart);
    }
    EXPECT_EQ(indicator(application, kStart), row.symbol) << row.menu;
    EXPECT_EQ(entries(menuItems(application, kStart, row.login, row.helper)), row.menu);
  }
  EXPECT_EQ(entries(menuItems(app, kStart, LoginItem::off)[7].items),
            "install-claude-hooks, uninstall-claude-hooks, -, install-codex-hooks, "
            "uninstall-codex-hooks, -, install-gemini-hooks, uninstall-gemini-hooks, -, "
            "install-cursor-hooks, uninstall-cursor-hooks, -, install-copilot-hooks, "
            "uninstall-copilot-hooks, -, install-qwen-hooks, uninstall-qwen-hooks, -, "
            "install-opencode-hooks, uninstall-opencode-hooks, -, install-kilo-hooks, "
            "uninstall-kilo-hooks");
}

}  // namespace
}  // namespace wexla::app
