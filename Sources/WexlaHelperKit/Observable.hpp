#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace wexla::kit {

// Ends a subscription when destroyed, even after the observed object is gone.
class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  Subscription& operator=(Subscription&& other) noexcept {
    cancel();
    cancel_ = std::exchange(other.cancel_, nullptr);
    return *this;
  }
  ~Subscription() { cancel(); }

  void cancel() {
    if (cancel_) std::exchange(cancel_, nullptr)();
  }

 private:
  std::function<void()> cancel_;
};

// Callbacks called in the order they subscribed.
template <typename... Args>
class Signal {
 public:
  using Slot = std::function<void(Args...)>;

  Subscription connect(Slot slot) const {
    const std::uint64_t id = slots_->next++;
    slots_->byId.emplace(id, std::move(slot));
    return Subscription([weak = std::weak_ptr<Slots>(slots_), id] {
      if (const auto slots = weak.lock()) slots->byId.erase(id);
    });
  }

  void emit(Args... args) const {
    // A slot may end its own or another subscription while it runs.
    const auto snapshot = slots_->byId;
    for (const auto& [id, slot] : snapshot) slot(args...);
  }

 private:
  struct Slots {
    std::map<std::uint64_t, Slot> byId;
    std::uint64_t next = 0;
  };
  std::shared_ptr<Slots> slots_ = std::make_shared<Slots>();
};

// A value whose every assignment is announced: first the owner's will-change signal, then the
// value stream, even when the value stays the same.
template <typename T>
class Published {
 public:
  Published(T initial, const Signal<>& ownerWillChange)
      : value_(std::move(initial)), ownerWillChange_(ownerWillChange) {}

  const T& value() const { return value_; }

  void assign(T value) {
    ownerWillChange_.emit();
    value_ = std::move(value);
    stream_.emit(value_);
  }

  // Delivers the current value at once, then every assigned value.
  Subscription subscribe(std::function<void(const T&)> receive) const {
    receive(value_);
    return stream_.connect(std::move(receive));
  }

 private:
  T value_;
  const Signal<>& ownerWillChange_;
  Signal<const T&> stream_;
};

}  // namespace wexla::kit
