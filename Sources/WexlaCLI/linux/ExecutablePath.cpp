#include <unistd.h>

#include <string>

#include "../SettingsStore.hpp"

namespace wexla::cli {

std::string executablePath() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(length));
  return path;
}

}  // namespace wexla::cli
