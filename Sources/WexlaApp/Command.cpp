#include "Command.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "ApplicationChannel.hpp"

namespace wexla::app {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// At most `most` words: no command has more, and a text of millions of words must not cost a
// list of millions.
std::vector<std::string_view> splitWords(std::string_view text, std::size_t most) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size() && words.size() < most) {
    while (i < text.size() && isBlank(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !isBlank(text[i])) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

// ASCII digits only; a value past the 64-bit range saturates (every use caps it anyway).
std::optional<std::int64_t> decimal(std::string_view word) {
  if (word.empty()) return std::nullopt;
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    const int digit = c - '0';
    value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
  }
  return value;
}

}  // namespace

Command parseCommand(std::string_view text) {
  Command command;
  command.answered = !channel::isFireAndForget(text);
  // One word past the longest command tells a longer text apart.
  const std::vector<std::string_view> words = splitWords(text, 3);
  using Kind = Command::Kind;

  // Any heartbeat text counts, "busybox" too: the tool sent it without waiting.
  const auto& heartbeats = channel::kFireAndForgetWords;
  if (!command.answered || (!words.empty() && std::find(heartbeats.begin(), heartbeats.end(),
                                                        words[0]) != heartbeats.end())) {
    command.kind = Kind::busy;
    if (words.size() >= 2) {
      const auto minutes = decimal(words[1]);
      if (minutes && *minutes >= 1 && *minutes <= kMaxBusyMinutes) command.minutes = minutes;
    }
    return command;
  }
  if (words.size() == 1) {
    if (words[0] == "on") command.kind = Kind::on;
    if (words[0] == "off") command.kind = Kind::off;
    if (words[0] == "status") command.kind = Kind::status;
  } else if (words.size() == 2) {
    if (words[0] == "status" && words[1] == "json") command.kind = Kind::statusJson;
    if (words[0] == "extend") {
      command.minutes = decimal(words[1]);
      if (command.minutes) command.kind = Kind::extend;
    }
    if (words[0] == "while") {
      const auto number = decimal(words[1]);
      if (number && *number > 0) {
        command.kind = Kind::whileProcess;
        command.pidText = words[1];
        if (*number <= std::numeric_limits<std::int32_t>::max()) {
          command.pid = static_cast<std::int32_t>(*number);
        }
      }
    }
  }
  return command;
}

}  // namespace wexla::app
