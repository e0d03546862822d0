#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "AppTime.hpp"
#include "HelperLink.hpp"
#include "Holds.hpp"

namespace wexla::app {

// The replies users and scripts read; their words are fixed.
inline constexpr std::string_view kOffLine = "off — không giữ máy thức / not holding";

// One line: the active holds in the order manual, timer, agent, process, then a warning when a
// hold is active but the helper does not hold the machine.
std::string statusLine(const Holds& holds, LinkState link, const Now& now);
// The same as one line of JSON, for scripts.
std::string statusJson(const Holds& holds, LinkState link, const Now& now);
// The warning the status line ends with while a hold is active: none while the helper holds or
// its first answer is on the way.
std::optional<std::string_view> linkWarning(LinkState link);
// The longest command text an error line quotes whole; no command comes near it.
inline constexpr std::size_t kMaxQuotedText = 4096;
// The text cut to at most `bound` bytes, at the start of a character, with "…" after it when
// it was cut.
std::string cutText(std::string_view text, std::size_t bound);
// The reply to a text that is no command; the text appears exactly as received, cut to
// kMaxQuotedText.
std::string errorLine(std::string_view text);
// The reply to `while PID` for a process that does not exist.
std::string noProcessLine(std::string_view pidText);

// "14:30", or "2026-12-08 14:30" when `at` is more than a day after `now`, in local time.
std::string clockText(WallTime at, WallTime now);
// "1h20m", "26h05m", or "45m" under an hour, rounded up to the minute.
std::string timeLeftText(Instant::duration left);
// RFC 3339 in local time with its offset: "2026-12-06T14:30:00+07:00"; in UTC ("…Z") where the
// local offset has seconds, which RFC 3339 cannot write.
std::string rfc3339(WallTime at);

// The log line for entering a state of the helper link.
std::string_view linkLogMessage(LinkState state);

}  // namespace wexla::app
