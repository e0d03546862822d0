#include "BootTimer.hpp"

namespace wexla::app {

BootTimer::BootTimer(sd_event* event, std::function<void()> fire) : fire_(std::move(fire)) {
  sd_event_source* source = nullptr;
  if (sd_event_add_time(event, &source, CLOCK_BOOTTIME, 0, 1000, &onTimer, this) < 0) return;
  source_.reset(source);
  sd_event_source_set_enabled(source, SD_EVENT_OFF);
}

void BootTimer::wakeAt(std::optional<Instant> when) {
  if (!when) {
    sd_event_source_set_enabled(source_.get(), SD_EVENT_OFF);
    return;
  }
  sd_event_source_set_time(source_.get(), sd::bootMicros(*when));
  sd_event_source_set_enabled(source_.get(), SD_EVENT_ONESHOT);
}

int BootTimer::onTimer(sd_event_source*, std::uint64_t, void* userdata) {
  static_cast<BootTimer*>(userdata)->fire_();
  return 0;
}

}  // namespace wexla::app
