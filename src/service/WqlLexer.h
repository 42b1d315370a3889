#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrava::service {

struct WqlToken {
  enum class Kind { Identifier, String, Number, Symbol, End };
  Kind kind;
  std::string text;   // identifier as written, string without quotes and escapes, number as written
  size_t column = 0;  // of its first character, counted from 1 in characters
  std::string written;  // as it stands in the query, quotes included; empty for End
};

// Splits a WQL text into tokens. Strings take '...' or "..." with a backslash escaping the next
// character; symbols are = <> != < > <= >= ( ) , * + - and the dot. Anything else throws "Invalid
// query", naming what it found and its column.
class WqlLexer {
 public:
  static std::vector<WqlToken> tokenize(std::string_view text);

 private:
  static size_t readString(std::string_view text, size_t pos, std::vector<WqlToken>& out);
  static size_t readNumber(std::string_view text, size_t pos, std::vector<WqlToken>& out);
  static size_t readSymbol(std::string_view text, size_t pos, std::vector<WqlToken>& out);
};

// At most the first 20 bytes of text's `length` bytes from offset, in single quotes, for an error
// message; a character begun before the cut is kept whole.
std::string quotedExcerpt(std::string_view text, size_t offset, size_t length);

// The column of a byte offset of a query, counted from 1 in characters (UTF-8 sequences).
size_t wqlColumn(std::string_view text, size_t offset);

}  // namespace kestrava::service
