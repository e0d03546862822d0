#include "IdleRule.hpp"

namespace wexla::kit {

IdleRule::Next IdleRule::next(bool held, bool called, TimePoint now) {
  if (held || called || !lastActive_) lastActive_ = now;
  if (held) return {Action::tick, std::nullopt};
  if (!exitAfter_) return {Action::wait, std::nullopt};
  const TimePoint due = *lastActive_ + *exitAfter_;
  if (now >= due) return {Action::exit, std::nullopt};
  return {Action::wait, due};
}

}  // namespace wexla::kit
