#include "AppLog.hpp"

#include "Journal.hpp"

namespace wexla::app {

void log(int priority, const std::string& message) {
  sd::writeJournal({"wexla", "dev.wexla.app", "app"}, priority, message);
}

LimitedLog::LimitedLog(sd_event* event) {
  sd_event_source* source = nullptr;
  if (sd_event_add_time(event, &source, CLOCK_BOOTTIME, 0, 0, &onWindowEnd, this) >= 0) {
    timer_.reset(source);
    sd_event_source_set_enabled(source, SD_EVENT_OFF);
  }
}

void LimitedLog::write(int priority, const std::string& message) {
  const auto now = base::BootClock::now();
  if (const std::uint64_t count = limiter_.occurred(now); count > 0) {
    heldBack_.reset();
    writeCounted(priority, message, count);
    return;
  }
  heldBack_.emplace(priority, message);
  if (const auto next = limiter_.nextLine(); next && timer_) {
    sd_event_source_set_time(timer_.get(), sd::bootMicros(*next));
    sd_event_source_set_enabled(timer_.get(), SD_EVENT_ONESHOT);
  }
}

void LimitedLog::writeCounted(int priority, const std::string& message, std::uint64_t count) {
  log(priority,
      count > 1 ? message + " (the last of " + std::to_string(count) + " changes)" : message);
}

int LimitedLog::onWindowEnd(sd_event_source*, std::uint64_t, void* userdata) {
  auto* self = static_cast<LimitedLog*>(userdata);
  const std::uint64_t count = self->limiter_.heldBack(base::BootClock::now());
  if (count > 0 && self->heldBack_) {
    self->writeCounted(self->heldBack_->first, self->heldBack_->second, count);
    self->heldBack_.reset();
  }
  return 0;
}

}  // namespace wexla::app
