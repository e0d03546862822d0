#pragma once

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <functional>
#include <string>
#include <vector>

#include "Application.hpp"
#include "ChildRuns.hpp"
#include "DesktopNotifications.hpp"
#include "MenuChoices.hpp"
#include "Notices.hpp"
#include "StatusNotifierItem.hpp"

namespace wexla::app {

// What the person sees of the application on the desktop: the tray icon with the menu, and the
// notices when the machine stops being held and when it is held again.
class Desktop final : public TrayOwner, public MenuPlatform {
 public:
  // `quit` ends the application the way a signal does.
  Desktop(sd_bus* session, sd_event* event, Application& app, bool notifications,
          std::function<void()> quit);

  // Puts the icon on the bus; a negative errno when it cannot.
  int start() { return tray_.start(); }
  // After each change of the application's status: the icon follows, and a notice may be due.
  void statusChanged();

  // TrayOwner
  std::vector<MenuItem> menu() override;
  Indicator indicator() override;
  std::string statusLine() override;
  void choose(const MenuItem& item) override;

  // MenuPlatform
  void runWexlactl(const std::string& word, Finished finished) override;
  void tell(const std::string& message, bool problem) override;
  void quit() override { quit_(); }

 private:
  // The icon for a notice: a file:// URI where we know its file, so the server shows it even
  // from the build tree, else its name in the icon theme.
  std::string iconFor(Indicator indicator) const;

  Application& app_;
  std::function<void()> quit_;
  std::string themePath_;
  Notices notices_;
  DesktopNotifications notifications_;
  StatusNotifierItem tray_;
  MenuChoices choices_;
  base::ChildRuns runs_;  // ends its runs before what they would report to goes
};

}  // namespace wexla::app
