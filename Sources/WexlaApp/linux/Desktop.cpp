#include "Desktop.hpp"

#include <sys/syslog.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "AppLog.hpp"

namespace wexla::app {

namespace {

// A run of wexlactl takes a few milliseconds; one that hangs is stopped.
constexpr std::chrono::minutes kRunLimit{1};

// Installed, wexlactl sits beside the application; in the build tree, in its own folder.
std::string wexlactlPath() {
  std::error_code error;
  const auto folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
  for (const auto& path : {folder / "wexlactl", folder / ".." / "WexlaCLI" / "wexlactl"}) {
    if (::access(path.c_str(), X_OK) == 0) return path.string();
  }
  return {};
}

// A path as a file:// URI: every byte but the unreserved ones and "/" percent-encoded.
std::string fileUri(const std::string& path) {
  std::string uri = "file://";
  for (const unsigned char c : path) {
    if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      uri += escaped;
    }
  }
  return uri;
}

}  // namespace

Desktop::Desktop(sd_bus* session, sd_event* event, Application& app, bool notifications,
                 std::function<void()> quit)
    : app_(app),
      quit_(std::move(quit)),
      themePath_(iconThemePath()),
      notices_(notifications),
      notifications_(session),
      tray_(session, event, *this, themePath_),
      choices_(app, *this, false),
      runs_(event, kRunLimit) {}

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

void Desktop::choose(const MenuItem& item) { choices_.choose(item, Now::current()); }

void Desktop::runWexlactl(const std::string& word, Finished finished) {
  const std::string path = wexlactlPath();
  if (path.empty() || !runs_.start({path, word}, finished)) finished(-1, "");
}

void Desktop::tell(const std::string& message, bool problem) {
  log(problem ? LOG_WARNING : LOG_INFO, message);
  notifications_.show("Wexla", message, iconFor(indicator()), false);
}

std::string Desktop::iconFor(Indicator shown) const {
  const std::string name = iconName(shown);
  if (themePath_.empty()) return name;
  return fileUri(themePath_ + "/hicolor/scalable/status/" + name + ".svg");
}

}  // namespace wexla::app
