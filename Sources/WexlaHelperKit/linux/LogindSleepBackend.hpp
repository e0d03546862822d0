#pragma once

#include "SleepBackend.hpp"

namespace wexla::kit {

// The setting as a logind block inhibitor on closing the lid and on sleep. The lock is held
// process-wide and dies with the process, so a crashed helper cannot leave the machine awake.
class LogindSleepBackend final : public SleepBackend {
 public:
  static constexpr const char* kWhat = "sleep:handle-lid-switch";
  static constexpr const char* kWho = "Wexla";
  static constexpr const char* kWhy = "Keeping the computer awake on request";
  static constexpr const char* kMode = "block";

  // Taking the lock again while it is held succeeds without a new one, unless logind no longer
  // lists it: then a new one is taken. True only while a lock is held.
  bool setDisableSleep(bool on) override;
  // Whether logind lists a block lock of ours, held by this process. When it answers that it
  // does not, a descriptor still kept is closed: it holds nothing.
  bool isDisableSleepOn() override;
};

}  // namespace wexla::kit
