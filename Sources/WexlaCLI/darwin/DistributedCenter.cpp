// The macOS distributed notification center; replies arrive through the main run loop.
#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "../NotificationCenter.hpp"

namespace wexla::cli {

namespace {

struct CFReleaser {
  void operator()(CFTypeRef object) const {
    if (object != nullptr) CFRelease(object);
  }
};
using CFStringHolder = std::unique_ptr<std::remove_pointer_t<CFStringRef>, CFReleaser>;

CFStringHolder makeString(std::string_view text) {
  return CFStringHolder(
      CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                              static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

std::string toUtf8(CFStringRef string) {
  const CFIndex length = CFStringGetLength(string);
  const CFIndex capacity = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8) + 1;
  std::vector<char> buffer(static_cast<std::size_t>(capacity));
  if (!CFStringGetCString(string, buffer.data(), capacity, kCFStringEncodingUTF8)) return {};
  return std::string(buffer.data());
}

class DistributedCenter final : public NotificationCenter {
 public:
  ~DistributedCenter() override { removeObserver(); }

  bool addObserver(std::string_view name, Handler handler) override {
    observedName_ = makeString(name);
    if (!observedName_) return false;
    handler_ = std::move(handler);
    // This object's address identifies the registration, so removal takes exactly this one.
    CFNotificationCenterAddObserver(center_, this, &onNotification, observedName_.get(), nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
    return true;
  }

  void removeObserver() override {
    if (!observedName_) return;
    CFNotificationCenterRemoveObserver(center_, this, observedName_.get(), nullptr);
    observedName_.reset();
    handler_ = nullptr;
  }

  bool post(std::string_view name, std::string_view object) override {
    const CFStringHolder cfName = makeString(name);
    const CFStringHolder cfObject = makeString(object);
    if (!cfName || !cfObject) return false;
    CFNotificationCenterPostNotification(center_, cfName.get(), cfObject.get(), nullptr, true);
    return true;
  }

  void run(double seconds) override { CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, false); }

  // Only stops a run loop that is running; the handler calls it from inside run().
  void stop() override { CFRunLoopStop(CFRunLoopGetMain()); }

 private:
  static void onNotification(CFNotificationCenterRef, void* observer, CFNotificationName,
                             const void* object, CFDictionaryRef) {
    auto* self = static_cast<DistributedCenter*>(observer);
    if (!self->handler_) return;
    if (object != nullptr && CFGetTypeID(object) == CFStringGetTypeID()) {
      const std::string text = toUtf8(static_cast<CFStringRef>(object));
      self->handler_(&text);
    } else {
      self->handler_(nullptr);
    }
  }

  CFNotificationCenterRef center_ = CFNotificationCenterGetDistributedCenter();
  CFStringHolder observedName_;
  Handler handler_;
};

}  // namespace

std::unique_ptr<NotificationCenter> makeDistributedCenter() {
  return std::make_unique<DistributedCenter>();
}

}  // namespace wexla::cli
