#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "Entry.hpp"
#include "HeldCommand.hpp"
#include "Utf8.hpp"

int main(int argc, char** argv) {
  // A command that wexlactl runs gets its words byte for byte; only words it reads are repaired.
  const bool runs = argc > 1 && argv[1] == wexla::cli::kRunWord;
  std::vector<std::string> rawArgs;
  for (int i = 1; i < argc; ++i) {
    rawArgs.push_back(runs ? std::string(argv[i]) : wexla::cli::repairUtf8(argv[i]));
  }

  const wexla::cli::Outcome outcome = wexla::cli::runCommand(
      rawArgs, wexla::cli::makeDistributedCenter, argc > 0 ? argv[0] : nullptr);
  wexla::cli::writeAll(STDOUT_FILENO, outcome.out);
  wexla::cli::writeAll(STDERR_FILENO, outcome.err);
  return outcome.status;
}
