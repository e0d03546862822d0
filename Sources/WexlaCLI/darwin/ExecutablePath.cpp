#include <mach-o/dyld.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "../SettingsStore.hpp"

namespace wexla::cli {

std::string executablePath() {
  std::uint32_t size = PATH_MAX;
  std::vector<char> path(size);
  if (_NSGetExecutablePath(path.data(), &size) != 0) {
    path.resize(size);  // `size` now holds the length needed
    if (_NSGetExecutablePath(path.data(), &size) != 0) return {};
  }
  // The path may be relative to the directory the tool was started from.
  char resolved[PATH_MAX];
  if (::realpath(path.data(), resolved) == nullptr) return std::string(path.data());
  return resolved;
}

}  // namespace wexla::cli
