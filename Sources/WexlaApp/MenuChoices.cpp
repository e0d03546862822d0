#include "MenuChoices.hpp"

namespace wexla::app {

void MenuChoices::choose(const MenuItem& item, const Now& now) {
  if (!item.enabled) return;
  switch (item.kind) {
    case MenuItem::Kind::command:
      // As a text from wexlactl; its reply is for wexlactl, the menu shows the status.
      app_.handle(item.argument, now);
      break;
    case MenuItem::Kind::endManual:
      app_.endManualHold(now);
      break;
    case MenuItem::Kind::hook:
      run(item.argument);
      break;
    case MenuItem::Kind::startAtLogin:
      platform_.toggleStartAtLogin();
      break;
    case MenuItem::Kind::installHelper:
      platform_.installHelper();
      break;
    case MenuItem::Kind::openLoginItems:
      platform_.openLoginItems();
      break;
    case MenuItem::Kind::uninstallHelper:
      platform_.uninstallHelper();
      break;
    case MenuItem::Kind::quit:
      platform_.quit();
      break;
    case MenuItem::Kind::label:
    case MenuItem::Kind::separator:
    case MenuItem::Kind::submenu:
      break;
  }
}

void MenuChoices::run(const std::string& word) {
  if (running_.size() >= kMaxRuns || !running_.insert(word).second) return;
  // Marked first: a run that cannot start finishes at once.
  platform_.runWexlactl(word, [this, word](int status, const std::string& output) {
    running_.erase(word);
    platform_.tell(hookMessage(status, output, bundled_), status != 0);
  });
}

std::string hookMessage(int status, std::string_view output, bool bundled) {
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) {
    output.remove_suffix(1);
  }
  if (status >= 0 && !output.empty()) return std::string(output);
  if (bundled) {
    return "không chạy được wexlactl trong Wexla.app / wexlactl in Wexla.app could not run";
  }
  return "không chạy được wexlactl / wexlactl could not run";
}

}  // namespace wexla::app
