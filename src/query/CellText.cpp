#include "query/CellText.h"

#include <cstdio>

#include "sys/Utf8.h"

namespace kestrava::query {

namespace {
using sys::decodeUtf8;
using sys::isInvalidByte;

bool inRange(char32_t c, char32_t first, char32_t last) {
  return c >= first && c <= last;
}

bool isZeroWidth(char32_t c) {
  return inRange(c, 0x0300, 0x036F) || inRange(c, 0x0483, 0x0489) || inRange(c, 0x0591, 0x05BD) ||
         inRange(c, 0x1AB0, 0x1AFF) || inRange(c, 0x1DC0, 0x1DFF) || inRange(c, 0x200B, 0x200F) ||
         inRange(c, 0x20D0, 0x20FF) || inRange(c, 0xFE00, 0xFE0F) || inRange(c, 0xFE20, 0xFE2F);
}

bool isWide(char32_t c) {
  return inRange(c, 0x1100, 0x115F) || inRange(c, 0x2E80, 0x303E) || inRange(c, 0x3041, 0x33FF) ||
         inRange(c, 0x3400, 0x4DBF) || inRange(c, 0x4E00, 0x9FFF) || inRange(c, 0xA000, 0xA4CF) ||
         inRange(c, 0xAC00, 0xD7A3) || inRange(c, 0xF900, 0xFAFF) || inRange(c, 0xFE30, 0xFE4F) ||
         inRange(c, 0xFF00, 0xFF60) || inRange(c, 0xFFE0, 0xFFE6) || inRange(c, 0x1F300, 0x1F64F) ||
         inRange(c, 0x1F900, 0x1F9FF) || inRange(c, 0x20000, 0x3FFFD);
}

bool isControl(char32_t c) {
  return c < 0x20 || inRange(c, 0x7F, 0x9F);
}

// Characters a terminal obeys rather than shows: controls, line and paragraph separators, and
// the bidirectional overrides and isolates that reorder what follows them on the line.
bool isUnsafeOnTerminal(char32_t c) {
  return isControl(c) || c == 0x2028 || c == 0x2029 || inRange(c, 0x202A, 0x202E) ||
         inRange(c, 0x2066, 0x2069);
}

void appendEscaped(std::string& out, char32_t c) {
  switch (c) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default: {
      char buf[12];
      std::snprintf(buf, sizeof buf, c > 0xFF ? "\\u%04X" : "\\x%02X", static_cast<unsigned>(c));
      out += buf;
    }
  }
}

std::string render(const Value& value, bool escapeControls, bool nested) {
  switch (value.kind()) {
    case Value::Kind::Empty:
    case Value::Kind::Null:
      return nested ? "<null>" : "";
    case Value::Kind::Text:
      return escapeControls ? terminalText(value.asText()) : sys::validUtf8(value.asText());
    case Value::Kind::Array: {
      std::string out = "{";
      const auto& items = value.asArray();
      for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += render(items[i], escapeControls, true);
      }
      return out + "}";
    }
    default:
      return value.toText();
  }
}
}  // namespace

std::string terminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t pos = 0; pos < text.size();) {
    const char32_t c = decodeUtf8(text, pos);
    if (isInvalidByte(c))
      sys::appendUtf8(out, sys::kReplacementCharacter);
    else if (isUnsafeOnTerminal(c))
      appendEscaped(out, c);
    else
      sys::appendUtf8(out, c);
  }
  return out;
}

std::string cellTextNullAsBlank(const Value& value) {
  return render(value, true, false);
}

std::string plainText(const Value& value) {
  return render(value, false, false);
}

size_t displayWidth(std::string_view utf8) {
  size_t width = 0;
  for (size_t pos = 0; pos < utf8.size();) {
    const char32_t c = decodeUtf8(utf8, pos);
    if (isInvalidByte(c))
      width += 1;
    else if (isControl(c) || isZeroWidth(c))
      continue;
    else
      width += isWide(c) ? 2 : 1;
  }
  return width;
}

}  // namespace kestrava::query
