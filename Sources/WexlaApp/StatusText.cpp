#include "StatusText.hpp"

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace wexla::app {

namespace {

constexpr std::string_view kWarningSeparator = " ⚠ ";

// What each state of the helper link shows: its name in `status json`, the warning of the
// status line, and the log line on entering it.
struct LinkTexts {
  std::string_view name;
  std::optional<std::string_view> warning;
  std::string_view log;
};

// clang-format off
LinkTexts textsOf(LinkState link) {
  switch (link) {
    case LinkState::idle:
      return {"idle", std::nullopt, "nothing holds the machine any more; the helper was asked to let go"};
    case LinkState::pending:
      // The first answer is still on the way: nothing to warn of yet.
      return {"idle", std::nullopt, "a hold began; asking the helper to keep the machine awake"};
    case LinkState::held:
      return {"ok", std::nullopt, "the helper holds the machine awake"};
    case LinkState::released:
      return {"released", "helper đã tự nhả (pin yếu hoặc máy quá nóng) / the helper let go (low battery or too hot)",
              "the helper let go by itself (low battery, heat or its own restart); asking again in a minute"};
    case LinkState::unreachable:
      return {"unreachable", "helper không chạy — máy vẫn có thể ngủ / helper not running — the machine may sleep",
              "the helper is unreachable; retrying every 30 seconds"};
    case LinkState::refused:
      return {"refused", "helper từ chối ứng dụng này / the helper refused this application",
              "the helper refused this application; retrying every 30 seconds"};
    case LinkState::unchecked:
      return {"unchecked", "helper chưa kiểm tra được quyền — đang thử lại / the helper could not check permission — retrying",
              "the helper got no answer on this application's permission; retrying every 30 seconds"};
  }
  return {};  // not reached: every state is named above, and the compiler checks it
}
// clang-format on

struct tm localParts(WallTime at) {
  const time_t seconds =
      std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(at));
  struct tm parts {};
  // The zone is read again each time: a laptop crosses zones while the application runs.
  tzset();
  localtime_r(&seconds, &parts);
  return parts;
}

std::string pidList(const std::vector<std::int32_t>& pids, std::string_view separator) {
  std::string text;
  for (const std::int32_t pid : pids) {
    if (!text.empty()) text += separator;
    text += std::to_string(pid);
  }
  return text;
}

}  // namespace

std::optional<std::string_view> linkWarning(LinkState link) { return textsOf(link).warning; }

std::string_view linkLogMessage(LinkState state) { return textsOf(state).log; }

std::string clockText(WallTime at, WallTime now) {
  const struct tm parts = localParts(at);
  char text[64];
  if (at - now > std::chrono::hours(24)) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min);
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d", parts.tm_hour, parts.tm_min);
  }
  return text;
}

std::string timeLeftText(Instant::duration left) {
  const auto minutes = std::chrono::ceil<std::chrono::minutes>(left).count();
  if (minutes < 60) return std::to_string(minutes) + "m";
  char text[64];
  std::snprintf(text, sizeof text, "%lldh%02lldm", static_cast<long long>(minutes / 60),
                static_cast<long long>(minutes % 60));
  return text;
}

std::string rfc3339(WallTime at) {
  struct tm parts = localParts(at);
  char text[96];
  if (parts.tm_gmtoff % 60 != 0) {
    // An offset with seconds has no RFC 3339 form: the same instant in UTC instead.
    const time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(at));
    gmtime_r(&seconds, &parts);
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
  }
  const long offset = parts.tm_gmtoff / 60;
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
                parts.tm_sec, offset < 0 ? '-' : '+', std::labs(offset) / 60,
                std::labs(offset) % 60);
  return text;
}

std::string statusLine(const Holds& holds, LinkState link, const Now& now) {
  if (!holds.any(now.boot)) return std::string(kOffLine);
  std::vector<std::string> parts;
  if (holds.manual()) parts.emplace_back("on — giữ máy thức tới khi tắt / holding until off");
  if (const auto end = holds.timerEnd(now.boot)) {
    const std::string until = clockText(now.wallAt(*end), now.wall);
    const std::string left = timeLeftText(*end - now.boot);
    parts.push_back("timer — giữ tới " + until + ", còn " + left + " / holding until " + until +
                    ", " + left + " left");
  }
  if (const auto end = holds.agentEnd(now.boot)) {
    const std::string until = clockText(now.wallAt(*end), now.wall);
    parts.push_back("agent — agent AI đang bận, giữ tới " + until +
                    " / AI agent busy, holding until " + until);
  }
  if (!holds.processes().empty()) {
    const std::string pids = pidList(holds.processes(), ", ");
    parts.push_back("while — giữ khi tiến trình " + pids + " còn chạy / holding while process " +
                    pids + " runs");
  }
  std::string line;
  for (const std::string& part : parts) line += (line.empty() ? "" : "; ") + part;
  if (const auto warning = linkWarning(link)) {
    line += kWarningSeparator;
    line += *warning;
  }
  return line;
}

std::string statusJson(const Holds& holds, LinkState link, const Now& now) {
  const bool any = holds.any(now.boot);
  std::vector<std::string> entries;
  if (holds.manual()) entries.emplace_back(R"({"kind": "manual", "until": null})");
  for (const auto& [kind, end] : {std::pair{"timer", holds.timerEnd(now.boot)},
                                  std::pair{"agent", holds.agentEnd(now.boot)}}) {
    if (end) {
      entries.push_back(std::string(R"({"kind": ")") + kind + R"(", "until": ")" +
                        rfc3339(now.wallAt(*end)) + "\"}");
    }
  }
  if (!holds.processes().empty()) {
    entries.push_back(R"({"kind": "while", "until": null, "pids": [)" +
                      pidList(holds.processes(), ", ") + "]}");
  }
  std::string list;
  for (const std::string& entry : entries) list += (list.empty() ? "" : ", ") + entry;
  return std::string(R"({"held": )") + (any && link == LinkState::held ? "true" : "false") +
         R"(, "holds": [)" + list + R"(], "helper": ")" +
         std::string(any ? textsOf(link).name : "idle") + "\"}";
}

std::string cutText(std::string_view text, std::size_t bound) {
  if (text.size() <= bound) return std::string(text);
  std::size_t end = bound;
  // Back to the first byte of a UTF-8 character, so the cut text stays valid where it was.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end)) + "…";
}

std::string errorLine(std::string_view text) {
  return "không hiểu \"" + cutText(text, kMaxQuotedText) +
         "\" — dùng / use: on, off, 2h, 45m, extend 30, while PID, status";
}

std::string noProcessLine(std::string_view pidText) {
  const std::string pid(pidText);
  return "không có tiến trình " + pid + " / no process " + pid;
}

}  // namespace wexla::app
