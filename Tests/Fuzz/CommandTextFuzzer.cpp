// Any argument vector: the command text never crashes and always reaches the application as
// well-formed UTF-8. Arguments are the input split at NUL bytes, as the kernel hands them over.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "CommandText.hpp"
#include "Utf8.hpp"

namespace {

bool wellFormed(const std::string& text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    bool valid = false;
    wexla::cli::decodeUtf8(text, pos, valid);
    if (!valid) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  std::size_t start = 0;
  for (std::size_t end; (end = input.find('\0', start)) != std::string::npos; start = end + 1) {
    args.push_back(wexla::cli::repairUtf8(input.substr(start, end - start)));
  }
  if (start < input.size()) args.push_back(wexla::cli::repairUtf8(input.substr(start)));

  for (const std::string& arg : args) {
    if (!wellFormed(arg) || wexla::cli::repairUtf8(arg) != arg) std::abort();
  }
  const auto text = wexla::cli::commandText(args);
  if (text && !wellFormed(*text)) std::abort();
  return 0;
}
