#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "Entry.hpp"
#include "Utf8.hpp"

namespace {

// Each message goes out as one block, so a reader never sees it interleaved or half written.
void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> rawArgs;
  for (int i = 1; i < argc; ++i) rawArgs.push_back(wexla::cli::repairUtf8(argv[i]));

  const wexla::cli::Outcome outcome = wexla::cli::runCommand(
      rawArgs, wexla::cli::makeDistributedCenter, argc > 0 ? argv[0] : nullptr);
  writeAll(STDOUT_FILENO, outcome.out);
  writeAll(STDERR_FILENO, outcome.err);
  return outcome.status;
}
