#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <string>

namespace wexla::kit {

// Asks polkit whether a system-bus peer may control the helper, never prompting anybody.
class PolkitAuthority {
 public:
  static constexpr const char* kActionID = "dev.wexla.helper.control";
  static constexpr std::chrono::milliseconds kDefaultLimit{5000};

  explicit PolkitAuthority(std::chrono::milliseconds limit = kDefaultLimit) : limit_(limit) {}

  // True only when polkit answers that `uniqueName` is authorised. An error, no answer within
  // the limit, a challenge or an answer of another shape denies.
  bool isAuthorized(sd_bus* bus, const std::string& uniqueName) const;

 private:
  std::chrono::milliseconds limit_;
};

}  // namespace wexla::kit
