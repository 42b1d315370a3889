#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Value.h"

namespace kestrava::remote {

// Typed values spelled explicitly, one canonical spelling per value:
//   e  empty        n  null        t / f  Boolean true / false
//   i<decimal>;     64-bit integer     r<16 hex digits>;  real, its IEEE-754 bits
//   s<length>:<bytes>  text, any bytes     a<count>:<values>  array
void appendValue(std::string& out, const Value& value);
void appendInteger(std::string& out, int64_t value);
void appendText(std::string& out, std::string_view text);
void appendArrayHeader(std::string& out, size_t count);

// Reads values from one message body, refusing every spelling that is not canonical. Throws
// ProtocolError; never reads past the end.
class ValueReader {
 public:
  explicit ValueReader(std::string_view bytes) : rest_(bytes) {}

  Value read() { return read(0); }
  bool atEnd() const { return rest_.empty(); }

 private:
  Value read(size_t depth);
  int64_t readInteger(char terminator);
  uint64_t readCount(char terminator);
  std::string_view take(size_t n);

  std::string_view rest_;
  size_t values_ = 0;
};

}  // namespace kestrava::remote
