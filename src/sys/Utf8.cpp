#include "sys/Utf8.h"

namespace kestrava::sys {

namespace {
bool isContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// Lead byte -> sequence length and the smallest code point that length may carry.
bool sequenceShape(unsigned char lead, size_t& length, char32_t& minimum, char32_t& bits) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, bits = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, bits = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, bits = lead & 0x07;
  } else {
    return false;
  }
  return true;
}

bool inRange(char32_t c, char32_t first, char32_t last) {
  return c >= first && c <= last;
}
}  // namespace

char32_t decodeUtf8(std::string_view s, size_t& pos) {
  const auto lead = static_cast<unsigned char>(s[pos]);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t length = 0;
  char32_t minimum = 0, c = 0;
  if (!sequenceShape(lead, length, minimum, c) || pos + length > s.size()) {
    ++pos;
    return kInvalidByteBase + lead;
  }
  for (size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if (!isContinuation(b)) {
      ++pos;
      return kInvalidByteBase + lead;
    }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < minimum || c > 0x10FFFF || inRange(c, 0xD800, 0xDFFF)) {
    ++pos;
    return kInvalidByteBase + lead;
  }
  pos += length;
  return c;
}

bool isInvalidByte(char32_t c) {
  return c >= kInvalidByteBase;
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

namespace {
// Copies the bytes with each invalid one as the replacement; plain ASCII, the common case, at once.
std::string replaceInvalid(std::string_view bytes, std::string_view replacement) {
  size_t i = 0;
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  if (i == bytes.size()) return std::string(bytes);
  std::string out(bytes.substr(0, i));
  out.reserve(bytes.size() + 8);
  while (i < bytes.size()) {
    const size_t start = i;
    if (isInvalidByte(decodeUtf8(bytes, i)))
      out += replacement;
    else
      out.append(bytes.substr(start, i - start));
  }
  return out;
}
}  // namespace

bool isValidUtf8(std::string_view text) {
  for (size_t pos = 0; pos < text.size();)
    if (isInvalidByte(decodeUtf8(text, pos))) return false;
  return true;
}

std::string validUtf8(std::string_view bytes) {
  return replaceInvalid(bytes, "\xEF\xBF\xBD");
}

std::string validUtf8WithQuestionMarks(std::string_view bytes) {
  return replaceInvalid(bytes, "?");
}

}  // namespace kestrava::sys
