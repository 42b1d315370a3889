#include "service/linux/Utf8Text.h"

#include <cstdint>

namespace kestrava::service::linuxsys {

namespace {
// Length of the well-formed sequence that starts at s[i], or 0 when the byte starts none.
size_t sequenceLength(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  uint8_t b0 = byte(i);
  if (b0 < 0x80) return 1;
  size_t len;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  return len;
}
}  // namespace

std::string validUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size() && static_cast<uint8_t>(bytes[i]) < 0x80) ++i;
  if (i == bytes.size()) return std::string(bytes);  // plain ASCII, the common case
  std::string out(bytes.substr(0, i));
  out.reserve(bytes.size() + 8);
  while (i < bytes.size()) {
    size_t len = sequenceLength(bytes, i);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(bytes.substr(i, len));
      i += len;
    }
  }
  return out;
}

}  // namespace kestrava::service::linuxsys
