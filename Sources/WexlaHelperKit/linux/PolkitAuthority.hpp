#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "SdBus.hpp"

namespace wexla::kit {

// Asks polkit whether a system-bus peer may control the helper, never prompting anybody and
// never waiting for the answer: a slow polkit must not hold up the helper's loop.
class PolkitAuthority {
 public:
  static constexpr const char* kActionID = "dev.wexla.helper.control";
  static constexpr std::chrono::milliseconds kDefaultLimit{5000};
  // Authorised only when polkit answered so. A challenge is a denial (nobody is asked); an
  // error, no answer within the limit or an answer of another shape is no answer.
  enum class Answer { authorized, denied, unanswered };
  using Verdict = std::function<void(Answer)>;

  explicit PolkitAuthority(std::chrono::milliseconds limit = kDefaultLimit) : limit_(limit) {}

  // Sends the question about `uniqueName`; `verdict` runs once, from the bus's processing, when
  // the answer or the limit comes. Dropping the returned slot withdraws the question. An empty
  // slot: the question could not be sent, and `verdict` never runs.
  sd::Slot ask(sd_bus* bus, const std::string& uniqueName, Verdict verdict) const;

 private:
  std::chrono::milliseconds limit_;
};

}  // namespace wexla::kit
