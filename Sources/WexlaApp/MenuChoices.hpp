#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "AppTime.hpp"
#include "Application.hpp"
#include "MenuModel.hpp"

namespace wexla::app {

// What the platform does for the menu beyond the application's own work.
class MenuPlatform {
 public:
  using Finished = std::function<void(int status, const std::string& output)>;

  virtual ~MenuPlatform() = default;
  // Runs the platform's wexlactl with one word; `finished` gets, later and on the main loop, its
  // exit status (-1 when it could not run or was stopped) and what it printed.
  virtual void runWexlactl(const std::string& word, Finished finished) = 0;
  // Answers what the person asked for, whatever the notifications setting: nobody else would.
  virtual void tell(const std::string& message, bool problem) = 0;
  // Ends the application the way a signal does: the helper is released first.
  virtual void quit() = 0;
  // Start at login and the helper's job, where the platform has them.
  virtual void toggleStartAtLogin() {}
  virtual void installHelper() {}
  virtual void openLoginItems() {}
  virtual void uninstallHelper() {}
};

// Carries out a chosen entry, the same way on every platform. A hook word runs once at a time,
// and a few at most run in all: a click on a word under way, or past the bound, is dropped, so a
// flood of clicks starts a few programs and tells a few results.
class MenuChoices {
 public:
  static constexpr std::size_t kMaxRuns = 4;

  // `bundled`: the platform's wexlactl is the one inside Wexla.app, and its messages say so.
  MenuChoices(Application& app, MenuPlatform& platform, bool bundled)
      : app_(app), platform_(platform), bundled_(bundled) {}
  MenuChoices(const MenuChoices&) = delete;
  MenuChoices& operator=(const MenuChoices&) = delete;

  void choose(const MenuItem& item, const Now& now);
  std::size_t running() const { return running_.size(); }

 private:
  void run(const std::string& word);

  Application& app_;
  MenuPlatform& platform_;
  bool bundled_;
  std::set<std::string> running_;  // the hook words under way
};

// What to tell after a hook word ran: what wexlactl printed (its message, or why it failed), or
// that it could not run at all.
std::string hookMessage(int status, std::string_view output, bool bundled);

}  // namespace wexla::app
