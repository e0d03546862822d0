#include "Utf8.hpp"

namespace wexla::cli {

namespace {

bool inRange(unsigned char byte, unsigned char low, unsigned char high) {
  return byte >= low && byte <= high;
}

}  // namespace

char32_t decodeUtf8(std::string_view bytes, std::size_t& pos, bool& valid) {
  const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byteAt(pos);
  valid = false;
  if (lead < 0x80) {
    valid = true;
    ++pos;
    return lead;
  }

  std::size_t length = 0;
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
  char32_t value = 0;
  if (inRange(lead, 0xC2, 0xDF)) {
    length = 2;
    value = lead & 0x1F;
  } else if (inRange(lead, 0xE0, 0xEF)) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) secondLow = 0xA0;
    if (lead == 0xED) secondHigh = 0x9F;  // no surrogates
  } else if (inRange(lead, 0xF0, 0xF4)) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) secondLow = 0x90;
    if (lead == 0xF4) secondHigh = 0x8F;  // nothing above U+10FFFF
  } else {
    ++pos;
    return kReplacementCharacter;
  }

  std::size_t i = pos + 1;
  for (std::size_t n = 1; n < length; ++n, ++i) {
    const unsigned char low = n == 1 ? secondLow : 0x80;
    const unsigned char high = n == 1 ? secondHigh : 0xBF;
    if (i >= bytes.size() || !inRange(byteAt(i), low, high)) {
      pos = i;  // the maximal subpart ends before the offending byte
      return kReplacementCharacter;
    }
    value = (value << 6) | (byteAt(i) & 0x3F);
  }
  pos = i;
  valid = true;
  return value;
}

std::string repairUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t start = pos;
    bool valid = false;
    decodeUtf8(bytes, pos, valid);
    if (valid) {
      text.append(bytes.substr(start, pos - start));
    } else {
      text.append("\xEF\xBF\xBD");
    }
  }
  return text;
}

}  // namespace wexla::cli
