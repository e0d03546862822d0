#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wexla::cli {

inline constexpr char32_t kReplacementCharacter = U'\uFFFD';

// Decodes the code point at `pos` and moves `pos` past it. An ill-formed sequence yields
// U+FFFD and moves past its maximal subpart only, as Unicode recommends, so that decoding
// resynchronises on the next possible lead byte. `valid` tells the two cases apart.
char32_t decodeUtf8(std::string_view bytes, std::size_t& pos, bool& valid);

// The arguments of the process are bytes; the application receives text. Every ill-formed
// sequence becomes U+FFFD so the notification always carries valid UTF-8.
std::string repairUtf8(std::string_view bytes);

}  // namespace wexla::cli
