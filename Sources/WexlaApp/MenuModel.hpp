#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "AppTime.hpp"
#include "Application.hpp"

namespace wexla::app {

// What the menu-bar symbol shows: nothing holds, the helper holds the machine, or something holds
// but the helper does not (the status line then ends with its warning).
enum class Indicator { idle, held, trouble };

// Whether the application starts at login, where the platform lets it say so itself; awaiting
// approval, the person has to allow it in System Settings first.
enum class LoginItem { unavailable, off, on, awaitingApproval };

// The helper as the system knows it where the application installs it itself (macOS 13 and
// later, from the launchd job inside Wexla.app): not yet, waiting for an administrator's approval
// in Login Items, in place, or lost to the system. `byHand` is a helper the system knows nothing
// of but which answers all the same: installed by hand, as on macOS 11 and 12.
enum class HelperInstall {
  unavailable,
  notRegistered,
  awaitingApproval,
  enabled,
  notFound,
  byHand
};

// One entry of the menu. The platform draws it; MenuChoices carries out its kind with its argument
// when it is chosen: a command text goes through Application::handle like a text from wexlactl,
// endManual through Application::endManualHold, a hook word runs wexlactl with that word; the
// helper's kinds ask the system to install it, to show Login Items, to remove it.
struct MenuItem {
  enum class Kind {
    label,
    separator,
    command,
    submenu,
    hook,
    startAtLogin,
    quit,
    endManual,
    installHelper,
    openLoginItems,
    uninstallHelper,
  };
  Kind kind = Kind::label;
  std::string title;
  std::string argument;  // command: the command text; hook: wexlactl's word
  bool enabled = true;
  bool checked = false;
  std::vector<MenuItem> items;  // submenu only

  bool operator==(const MenuItem&) const = default;
};

Indicator indicator(const Application& app, const Now& now);

// The menu as the application stands: the status line, keep awake, 1 and 2 hours, off, the
// agents' hooks, the helper's state and next step and start at login where available, quit.
std::vector<MenuItem> menuItems(const Application& app, const Now& now, LoginItem login,
                                HelperInstall helper = HelperInstall::unavailable);

}  // namespace wexla::app
