#include "SettingsFile.hpp"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "AppLog.hpp"
#include "FileDescriptor.hpp"

namespace wexla::app {

namespace {

// A settings file holds a few members; anything much larger is not one.
constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

std::string homeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  const passwd* entry = ::getpwuid(::getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

// The file's text; nothing when there is no file, or when it cannot be a settings file (then
// `problem` says why).
std::optional<std::string> readSettingsFile(const std::string& path, std::string& problem) {
  // Without blocking: a FIFO at the path must not hold start-up until somebody writes to it.
  const base::FileDescriptor file(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat facts {};
  if (file.get() < 0 || ::fstat(file.get(), &facts) != 0) {
    if (errno != ENOENT) problem = std::string("it cannot be read (") + std::strerror(errno) + ")";
    return std::nullopt;
  }
  if (!S_ISREG(facts.st_mode)) {
    problem = "it is not a regular file";
    return std::nullopt;
  }
  std::string text(kMaxSettingsBytes + 1, '\0');
  std::size_t length = 0;
  // The size stat gave may be wrong (a file still being written, /proc): read to the bound.
  while (length < text.size()) {
    const ssize_t got = ::read(file.get(), text.data() + length, text.size() - length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = std::string("it cannot be read (") + std::strerror(errno) + ")";
      return std::nullopt;
    }
    if (got == 0) break;
    length += static_cast<std::size_t>(got);
  }
  if (length > kMaxSettingsBytes) {
    problem = "it is larger than " + std::to_string(kMaxSettingsBytes / 1024) + " KiB";
    return std::nullopt;
  }
  text.resize(length);
  return text;
}

}  // namespace

std::string settingsPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  // XDG base directories must be absolute; a relative one is ignored.
  if (config != nullptr && config[0] == '/') return std::string(config) + "/wexla/settings.json";
  return homeDirectory() + "/.config/wexla/settings.json";
}

Settings loadSettings(const std::string& path) {
  std::string problem;
  const std::optional<std::string> text = readSettingsFile(path, problem);
  if (!text && problem.empty()) return {};  // no file: the defaults, nothing to say
  const SettingsReading reading = text ? parseSettings(*text) : SettingsReading{};
  if (!problem.empty() || !reading.problem.empty()) {
    log(LOG_WARNING,
        path + ": " + (problem.empty() ? reading.problem : problem) + "; using the defaults");
  }
  return reading.settings;
}

}  // namespace wexla::app
