#include "AsyncCall.hpp"

#include <cstdint>
#include <memory>
#include <utility>

namespace wexla::sd {

namespace {

struct Handlers {
  Answered answered;
  std::function<void()> unanswered;
  bool replied = false;
};

int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* handlers = static_cast<Handlers*>(userdata);
  handlers->replied = true;
  if (handlers->answered) handlers->answered(reply);
  return 0;
}

void onEnded(void* userdata) {
  const std::unique_ptr<Handlers> handlers(static_cast<Handlers*>(userdata));
  if (!handlers->replied && handlers->unanswered) handlers->unanswered();
}

}  // namespace

int callAsync(sd_bus* bus, Slot* slot, sd_bus_message* call, Answered answered,
              std::chrono::microseconds limit, std::function<void()> unanswered) {
  auto handlers = std::make_unique<Handlers>(Handlers{std::move(answered), std::move(unanswered)});
  sd_bus_slot* raw = nullptr;
  const int r = sd_bus_call_async(bus, &raw, call, &onReply, handlers.get(),
                                  static_cast<std::uint64_t>(limit.count()));
  if (r < 0) return r;
  sd_bus_slot_set_destroy_callback(raw, &onEnded);
  handlers.release();
  if (slot != nullptr) {
    slot->reset(raw);
  } else {
    sd_bus_slot_set_floating(raw, 1);
    sd_bus_slot_unref(raw);
  }
  return r;
}

}  // namespace wexla::sd
