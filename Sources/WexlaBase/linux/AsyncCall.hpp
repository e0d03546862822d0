#pragma once
// A method call under way whose handler the call owns: written once here, so that no caller
// frees, leaks or runs a handler twice.
#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>

#include "SdBus.hpp"

namespace wexla::sd {

// Gets the call's reply, an error reply (the time limit's included), at most once.
using Answered = std::function<void(sd_bus_message* reply)>;

// Sends `call` without waiting. The handlers are the call's from now on and go with it, however
// it ends. With `slot`, the caller holds the call and dropping the slot cancels it; without, the
// bus keeps it until its reply or its time limit (`limit` 0: the bus's own). `unanswered`, when
// given, runs instead of `answered` when the call ends without any reply: cancelled, or its
// connection gone first. A negative errno when it cannot be sent: then neither runs.
int callAsync(sd_bus* bus, Slot* slot, sd_bus_message* call, Answered answered,
              std::chrono::microseconds limit = {}, std::function<void()> unanswered = {});

}  // namespace wexla::sd
