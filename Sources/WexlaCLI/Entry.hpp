#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "NotificationCenter.hpp"

namespace wexla::cli {

// Printed with one line feed added.
inline constexpr std::string_view usage = R"usage(usage: wexlactl <command>
  wexlactl on            giữ máy thức (thủ công) / manual hold
  wexlactl off           gỡ giữ + hủy hẹn giờ + agent / release everything
  wexlactl 2h | 45m      giữ trong 2 giờ / 45 phút (timer)
  wexlactl extend 30     giữ thêm 30 phút
  wexlactl busy [phút]   nhịp "đang bận" cho agent AI (bỏ trống → theo Cài đặt)
  wexlactl status        trạng thái / current status

  wexlactl install-claude-hooks     bật tích hợp Claude Code (opt-in)
  wexlactl uninstall-claude-hooks   gỡ tích hợp
  wexlactl install-codex-hooks      bật tích hợp Codex (opt-in; cần /hooks trust)
  wexlactl uninstall-codex-hooks    gỡ tích hợp Codex
  wexlactl install-gemini-hooks     bật tích hợp Gemini CLI (opt-in)
  wexlactl uninstall-gemini-hooks   gỡ tích hợp Gemini
  wexlactl install-cursor-hooks     bật tích hợp Cursor (opt-in)
  wexlactl uninstall-cursor-hooks   gỡ tích hợp Cursor)usage";

// What one run prints and how it ends; the caller writes it out.
struct Outcome {
  int status = 0;
  std::string out;
  std::string err;
};

using CenterFactory = std::unique_ptr<NotificationCenter> (*)();

// Each message goes out as one block, so a reader never sees it interleaved or half written.
void writeAll(int fd, std::string_view bytes);

// One run of wexlactl over its arguments (without the program path). The center is made only
// when the run talks to the application; `programName` is the tool's own name as invoked.
Outcome runCommand(const std::vector<std::string>& rawArgs, CenterFactory makeCenter,
                   const char* programName = nullptr);

}  // namespace wexla::cli
