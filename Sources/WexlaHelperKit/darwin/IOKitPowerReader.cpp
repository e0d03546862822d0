// Power sources from IOKit and the thermal state of NSProcessInfo, turned into the description
// shape of the portable snapshot and nothing more.
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/ps/IOPSKeys.h>
#include <IOKit/ps/IOPowerSources.h>
#include <objc/message.h>
#include <objc/runtime.h>

#include <utility>
#include <vector>

#include "../DaemonPower.hpp"
#include "CFHolder.hpp"

namespace wexla::kit {

namespace {

DescriptionValue valueOf(CFTypeRef value) {
  if (value != nullptr && CFGetTypeID(value) == CFNumberGetTypeID() &&
      !CFNumberIsFloatType(static_cast<CFNumberRef>(value))) {
    std::int64_t number = 0;
    if (CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &number)) {
      return number;
    }
  }
  if (value != nullptr && CFGetTypeID(value) == CFStringGetTypeID()) {
    const auto text = static_cast<CFStringRef>(value);
    const CFIndex capacity =
        CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
    std::vector<char> buffer(static_cast<std::size_t>(capacity));
    if (CFStringGetCString(text, buffer.data(), capacity, kCFStringEncodingUTF8)) {
      return std::string(buffer.data());
    }
  }
  return OtherValue{};
}

class IOKitPowerReader final : public PowerReader {
 public:
  ThermalState thermalState() override {
    // [[NSProcessInfo processInfo] thermalState] through the runtime, each send cast to its
    // exact function type (required on arm64).
    using SendObject = id (*)(id, SEL);
    using SendLong = long (*)(id, SEL);
    const auto processInfoClass = reinterpret_cast<id>(objc_getClass("NSProcessInfo"));
    if (processInfoClass == nullptr) return ThermalState::nominal;
    const id info = reinterpret_cast<SendObject>(objc_msgSend)(processInfoClass,
                                                               sel_registerName("processInfo"));
    if (info == nullptr) return ThermalState::nominal;
    switch (reinterpret_cast<SendLong>(objc_msgSend)(info, sel_registerName("thermalState"))) {
      case 1:
        return ThermalState::fair;
      case 2:
        return ThermalState::serious;
      case 3:
        return ThermalState::critical;
      default:
        return ThermalState::nominal;
    }
  }

  std::optional<PowerSourceDescription> firstPowerSource() override {
    const Owned<CFTypeRef> blob(IOPSCopyPowerSourcesInfo());
    if (!blob) return std::nullopt;
    const Owned<CFArrayRef> list(IOPSCopyPowerSourcesList(blob.get()));
    if (!list || CFGetTypeID(list.get()) != CFArrayGetTypeID() ||
        CFArrayGetCount(list.get()) == 0) {
      return std::nullopt;
    }
    // Owned by the blob, which outlives every use below.
    const CFDictionaryRef description =
        IOPSGetPowerSourceDescription(blob.get(), CFArrayGetValueAtIndex(list.get(), 0));
    if (description == nullptr || CFGetTypeID(description) != CFDictionaryGetTypeID()) {
      return std::nullopt;
    }
    PowerSourceDescription result;
    const std::pair<const char*, CFStringRef> keys[] = {
        {kIOPSCurrentCapacityKey, CFSTR(kIOPSCurrentCapacityKey)},
        {kIOPSMaxCapacityKey, CFSTR(kIOPSMaxCapacityKey)},
        {kIOPSPowerSourceStateKey, CFSTR(kIOPSPowerSourceStateKey)},
    };
    for (const auto& [name, key] : keys) {
      if (const CFTypeRef value = CFDictionaryGetValue(description, key)) {
        result.emplace(name, valueOf(value));
      }
    }
    return result;
  }
};

}  // namespace

std::unique_ptr<PowerReader> makePlatformPowerReader() {
  return std::make_unique<IOKitPowerReader>();
}

}  // namespace wexla::kit
