#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <memory>
#include <type_traits>

namespace wexla::kit {

// Owns one CoreFoundation reference from a Create or Copy call and releases it exactly once.
struct CFReleaser {
  void operator()(CFTypeRef object) const {
    if (object != nullptr) CFRelease(object);
  }
};
template <typename Ref>
using Owned = std::unique_ptr<std::remove_pointer_t<Ref>, CFReleaser>;

}  // namespace wexla::kit
