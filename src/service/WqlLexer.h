#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrava::service {

struct WqlToken {
  enum class Kind { Identifier, String, Number, Symbol, End };
  Kind kind;
  std::string text;  // identifier as written, string without quotes and escapes, number as written
};

// Splits a WQL text into tokens. Strings take '...' or "..." with a backslash escaping the next
// character; symbols are = <> != < > <= >= ( ) , * + -. Anything else throws "Invalid query".
class WqlLexer {
 public:
  static std::vector<WqlToken> tokenize(std::string_view text);

 private:
  static size_t readString(std::string_view text, size_t pos, std::vector<WqlToken>& out);
  static size_t readNumber(std::string_view text, size_t pos, std::vector<WqlToken>& out);
  static size_t readSymbol(std::string_view text, size_t pos, std::vector<WqlToken>& out);
};

}  // namespace kestrava::service
