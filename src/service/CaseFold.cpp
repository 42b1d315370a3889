#include "service/CaseFold.h"

#include "sys/Utf8.h"

namespace kestrava::service {

namespace {
bool inRange(char32_t c, char32_t first, char32_t last) {
  return c >= first && c <= last;
}

// Ranges where upper and lower case letters alternate, upper case on even (or odd) positions.
char32_t foldAlternating(char32_t c, char32_t first, char32_t last, bool upperOnEven) {
  if (!inRange(c, first, last)) return 0;
  bool even = (c % 2) == 0;
  return even == upperOnEven ? c + 1 : c;
}
}  // namespace

char32_t foldCase(char32_t c) {
  if (c < 0x80) return inRange(c, 'A', 'Z') ? c + 32 : c;
  if (inRange(c, 0xC0, 0xDE) && c != 0xD7) return c + 32;
  if (c == 0x178) return 0xFF;
  if (c == 0x17F) return 's';
  if (c == 0x3C2) return 0x3C3;
  if (inRange(c, 0x391, 0x3AB) && c != 0x3A2) return c + 32;
  if (inRange(c, 0x410, 0x42F)) return c + 32;
  if (inRange(c, 0x400, 0x40F)) return c + 80;
  if (inRange(c, 0x531, 0x556)) return c + 48;
  if (inRange(c, 0xFF21, 0xFF3A)) return c + 32;
  struct Alternating {
    char32_t first, last;
    bool upperOnEven;
  };
  static constexpr Alternating kAlternating[] = {
      {0x100, 0x12F, true}, {0x132, 0x137, true},   {0x139, 0x148, false},
      {0x14A, 0x177, true}, {0x179, 0x17E, false},  {0x460, 0x481, true},
      {0x48A, 0x4BF, true}, {0x1E00, 0x1E95, true}, {0x1EA0, 0x1EFF, true},
  };
  for (const auto& range : kAlternating)
    if (char32_t folded = foldAlternating(c, range.first, range.last, range.upperOnEven))
      return folded;
  return c;
}

int compareFolded(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const char32_t ca = foldCase(sys::decodeUtf8(a, i));
    const char32_t cb = foldCase(sys::decodeUtf8(b, j));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace kestrava::service
