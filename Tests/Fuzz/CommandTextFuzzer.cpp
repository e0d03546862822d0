// Any argument vector (the input split at NUL bytes, as the kernel hands arguments over): the
// command text never crashes and always reaches the application as well-formed UTF-8.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "CommandText.hpp"
#include "Utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using wexla::cli::repairUtf8;
  const auto wellFormed = [](const std::string& text) {
    bool valid = true;
    for (std::size_t pos = 0; valid && pos < text.size();) wexla::cli::decodeUtf8(text, pos, valid);
    return valid;
  };
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (std::size_t start = 0; start < input.size();) {
    const std::size_t end = std::min(input.find('\0', start), input.size());
    args.push_back(repairUtf8(input.substr(start, end - start)));
    start = end + 1;
  }
  for (const std::string& arg : args) {
    if (!wellFormed(arg) || repairUtf8(arg) != arg) std::abort();
  }
  const auto text = wexla::cli::commandText(args);
  if (text && !wellFormed(*text)) std::abort();
  return 0;
}
