#include "remote/ValueCodec.h"

#include <algorithm>
#include <bit>
#include <charconv>

#include "remote/Message.h"
#include "remote/ProtocolError.h"

namespace kestrava::remote {

namespace {
constexpr char kHex[] = "0123456789abcdef";
// A length or count never needs more digits than the longest message has bytes.
constexpr size_t kMaxCountDigits = 10;
// An array's claimed count only guides the first reservation: a liar's nested claims must not
// reserve memory that the bytes of its message could never fill.
constexpr uint64_t kMaxReservedItems = 64;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string printable(char c) {
  if (c > ' ' && c < 0x7f) return std::string("'") + c + "'";
  static constexpr char hex[] = "0123456789ABCDEF";
  auto u = static_cast<unsigned char>(c);
  return std::string("byte 0x") + hex[u >> 4] + hex[u & 15];
}
}  // namespace

void appendInteger(std::string& out, int64_t value) {
  char buf[24];
  auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  out += 'i';
  out.append(buf, end);
  out += ';';
}

void appendText(std::string& out, std::string_view text) {
  out += 's';
  out += std::to_string(text.size());
  out += ':';
  out += text;
}

void appendArrayHeader(std::string& out, size_t count) {
  out += 'a';
  out += std::to_string(count);
  out += ':';
}

void appendValue(std::string& out, const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Empty:
      out += 'e';
      return;
    case Value::Kind::Null:
      out += 'n';
      return;
    case Value::Kind::Boolean:
      out += value.asBoolean() ? 't' : 'f';
      return;
    case Value::Kind::Integer:
      appendInteger(out, value.asInteger());
      return;
    case Value::Kind::Text:
      appendText(out, value.asText());
      return;
    case Value::Kind::Real: {
      auto bits = std::bit_cast<uint64_t>(value.asReal());
      out += 'r';
      for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(bits >> shift) & 15];
      out += ';';
      return;
    }
    case Value::Kind::Array: {
      const auto& items = value.asArray();
      appendArrayHeader(out, items.size());
      for (const auto& item : items) appendValue(out, item);
      return;
    }
  }
}

std::string_view ValueReader::take(size_t n) {
  if (n > rest_.size()) throw ProtocolError("a value runs past the end of its message");
  auto part = rest_.substr(0, n);
  rest_.remove_prefix(n);
  return part;
}

int64_t ValueReader::readInteger(char terminator) {
  auto end = rest_.find(terminator);
  if (end == std::string_view::npos || end > 20) throw ProtocolError("an integer is not closed");
  auto digits = rest_.substr(0, end);
  bool negative = !digits.empty() && digits[0] == '-';
  auto magnitude = digits.substr(negative ? 1 : 0);
  // Canonical: no sign other than '-', no leading zero, no "-0".
  if (magnitude.empty() || (magnitude[0] == '0' && (magnitude.size() > 1 || negative)))
    throw ProtocolError("an integer is not written in its one canonical form");
  int64_t value = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || ptr != digits.data() + digits.size())
    throw ProtocolError("an integer is out of range or holds a character that is not a digit");
  rest_.remove_prefix(end + 1);
  return value;
}

uint64_t ValueReader::readCount(char terminator) {
  auto end = rest_.find(terminator);
  if (end == std::string_view::npos || end == 0 || end > kMaxCountDigits)
    throw ProtocolError("a length or count is missing or too long");
  auto digits = rest_.substr(0, end);
  if (digits[0] == '0' && digits.size() > 1)
    throw ProtocolError("a length or count has a leading zero");
  uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || ptr != digits.data() + digits.size())
    throw ProtocolError("a length or count holds a character that is not a digit");
  rest_.remove_prefix(end + 1);
  return value;
}

Value ValueReader::read(size_t depth) {
  if (rest_.empty()) throw ProtocolError("a value is missing at the end of a message");
  if (++values_ > kMaxValuesPerMessage) throw ProtocolError("a message holds too many values");
  char kind = rest_[0];
  rest_.remove_prefix(1);
  switch (kind) {
    case 'e':
      return Value();
    case 'n':
      return Value::null();
    case 't':
      return Value::boolean(true);
    case 'f':
      return Value::boolean(false);
    case 'i':
      return Value::integer(readInteger(';'));
    case 's': {
      auto length = readCount(':');
      return Value::text(std::string(take(length)));
    }
    case 'r': {
      auto digits = take(17);
      uint64_t bits = 0;
      for (size_t i = 0; i < 16; ++i) {
        int d = hexDigit(digits[i]);
        if (d < 0) throw ProtocolError("a real is not 16 lower-case hexadecimal digits");
        bits = bits << 4 | static_cast<uint64_t>(d);
      }
      if (digits[16] != ';') throw ProtocolError("a real is not closed");
      return Value::real(std::bit_cast<double>(bits));
    }
    case 'a': {
      if (depth >= kMaxArrayDepth) throw ProtocolError("arrays are nested too deeply");
      auto count = readCount(':');
      // Every value takes at least one byte, so a count beyond the rest is a lie.
      if (count > rest_.size())
        throw ProtocolError("an array claims more items than its message holds");
      Value::Array items;
      items.reserve(std::min(count, kMaxReservedItems));
      for (uint64_t i = 0; i < count; ++i) items.push_back(read(depth + 1));
      return Value::array(std::move(items));
    }
    default:
      throw ProtocolError("unknown value kind " + printable(kind));
  }
}

}  // namespace kestrava::remote
