#include "service/WqlLexer.h"

#include "service/ServiceErrors.h"

namespace kestrava::service {

namespace {
bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isNameChar(char c) {
  return isNameStart(c) || isDigit(c);
}
}  // namespace

std::vector<WqlToken> WqlLexer::tokenize(std::string_view text) {
  std::vector<WqlToken> tokens;
  size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (isSpace(c)) {
      ++pos;
    } else if (isNameStart(c)) {
      size_t end = pos;
      while (end < text.size() && isNameChar(text[end])) ++end;
      tokens.push_back({WqlToken::Kind::Identifier, std::string(text.substr(pos, end - pos))});
      pos = end;
    } else if (c == '\'' || c == '"') {
      pos = readString(text, pos, tokens);
    } else if (isDigit(c) || (c == '.' && pos + 1 < text.size() && isDigit(text[pos + 1]))) {
      pos = readNumber(text, pos, tokens);
    } else {
      pos = readSymbol(text, pos, tokens);
    }
  }
  tokens.push_back({WqlToken::Kind::End, {}});
  return tokens;
}

size_t WqlLexer::readString(std::string_view text, size_t pos, std::vector<WqlToken>& out) {
  const char quote = text[pos++];
  std::string value;
  while (pos < text.size() && text[pos] != quote) {
    if (text[pos] == '\\') {
      if (++pos >= text.size()) break;
    }
    value += text[pos++];
  }
  if (pos >= text.size()) throw invalidQuery();  // unterminated
  out.push_back({WqlToken::Kind::String, std::move(value)});
  return pos + 1;
}

size_t WqlLexer::readNumber(std::string_view text, size_t pos, std::vector<WqlToken>& out) {
  const size_t start = pos;
  while (pos < text.size() && isDigit(text[pos])) ++pos;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    while (pos < text.size() && isDigit(text[pos])) ++pos;
  }
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    size_t exp = pos + 1;
    if (exp < text.size() && (text[exp] == '+' || text[exp] == '-')) ++exp;
    if (exp >= text.size() || !isDigit(text[exp])) throw invalidQuery();
    pos = exp;
    while (pos < text.size() && isDigit(text[pos])) ++pos;
  }
  // "12abc" is neither a number nor a name.
  if (pos < text.size() && (isNameChar(text[pos]) || text[pos] == '.')) throw invalidQuery();
  out.push_back({WqlToken::Kind::Number, std::string(text.substr(start, pos - start))});
  return pos;
}

size_t WqlLexer::readSymbol(std::string_view text, size_t pos, std::vector<WqlToken>& out) {
  static constexpr std::string_view kTwo[] = {"<>", "!=", "<=", ">="};
  for (std::string_view two : kTwo) {
    if (text.substr(pos, 2) == two) {
      out.push_back({WqlToken::Kind::Symbol, std::string(two)});
      return pos + 2;
    }
  }
  static constexpr std::string_view kOne = "=<>(),*+-";
  if (kOne.find(text[pos]) == std::string_view::npos) throw invalidQuery();
  out.push_back({WqlToken::Kind::Symbol, std::string(1, text[pos])});
  return pos + 1;
}

}  // namespace kestrava::service
