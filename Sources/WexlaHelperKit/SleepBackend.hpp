#pragma once

namespace wexla::kit {

// The machine-wide setting that disables system sleep. Every failure answers false.
class SleepBackend {
 public:
  virtual ~SleepBackend() = default;
  // True when the system carried out the request.
  virtual bool setDisableSleep(bool on) = 0;
  // True when sleep is disabled now; false also when the setting cannot be read.
  virtual bool isDisableSleepOn() = 0;
};

}  // namespace wexla::kit
