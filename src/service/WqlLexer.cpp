#include "service/WqlLexer.h"

#include <algorithm>
#include <string>

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

// The token with its byte offset where its column goes: tokenize turns the offsets of all tokens
// into columns in one pass, so a long query is not counted again from its start per token.
WqlToken token(WqlToken::Kind kind, std::string value, std::string_view text, size_t start,
               size_t end) {
  return {kind, std::move(value), start, std::string(text.substr(start, end - start))};
}
}  // namespace

std::string quotedExcerpt(std::string_view text, size_t offset, size_t length) {
  const std::string_view part = text.substr(offset, length);
  size_t end = std::min<size_t>(part.size(), 20);
  // A character has at most three bytes after its first; more is not UTF-8 and is cut.
  for (int more = 0;
       more < 3 && end < part.size() && (static_cast<unsigned char>(part[end]) & 0xC0) == 0x80;
       ++more)
    ++end;
  return "'" + std::string(part.substr(0, end)) + "'";
}

size_t wqlColumn(std::string_view text, size_t offset) {
  size_t column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
  return column;
}

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
      tokens.push_back(token(WqlToken::Kind::Identifier, std::string(text.substr(pos, end - pos)),
                             text, pos, end));
      pos = end;
    } else if (c == '\'' || c == '"') {
      pos = readString(text, pos, tokens);
    } else if (isDigit(c) || (c == '.' && pos + 1 < text.size() && isDigit(text[pos + 1]))) {
      pos = readNumber(text, pos, tokens);
    } else {
      pos = readSymbol(text, pos, tokens);
    }
  }
  tokens.push_back({WqlToken::Kind::End, {}, text.size(), {}});
  // Offsets to columns; the tokens stand in the order of their offsets.
  size_t column = 1;
  size_t at = 0;
  for (WqlToken& t : tokens) {
    for (; at < t.column; ++at)
      if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) ++column;
    t.column = column;
  }
  return tokens;
}

size_t WqlLexer::readString(std::string_view text, size_t pos, std::vector<WqlToken>& out) {
  const size_t start = pos;
  const char quote = text[pos++];
  std::string value;
  while (pos < text.size() && text[pos] != quote) {
    if (text[pos] == '\\') {
      if (++pos >= text.size()) break;
    }
    value += text[pos++];
  }
  if (pos >= text.size())
    throw invalidQuery("the quote " + std::string(1, quote) + " at column " +
                       std::to_string(wqlColumn(text, start)) + " is never closed");
  out.push_back(token(WqlToken::Kind::String, std::move(value), text, start, pos + 1));
  return pos + 1;
}

size_t WqlLexer::readNumber(std::string_view text, size_t pos, std::vector<WqlToken>& out) {
  const size_t start = pos;
  while (pos < text.size() && isDigit(text[pos])) ++pos;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    while (pos < text.size() && isDigit(text[pos])) ++pos;
  }
  bool whole = true;  // false for an exponent without digits ("1e")
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    size_t exp = pos + 1;
    if (exp < text.size() && (text[exp] == '+' || text[exp] == '-')) ++exp;
    whole = exp < text.size() && isDigit(text[exp]);
    pos = exp;
    while (pos < text.size() && isDigit(text[pos])) ++pos;
  }
  // "12abc" and "1e" are neither a number nor a name.
  if (!whole || (pos < text.size() && (isNameChar(text[pos]) || text[pos] == '.'))) {
    while (pos < text.size() && (isNameChar(text[pos]) || text[pos] == '.')) ++pos;
    throw invalidQuery("found " + quotedExcerpt(text, start, pos - start) + " at column " +
                       std::to_string(wqlColumn(text, start)) + ", which is not a number");
  }
  out.push_back(token(WqlToken::Kind::Number, std::string(text.substr(start, pos - start)), text,
                      start, pos));
  return pos;
}

size_t WqlLexer::readSymbol(std::string_view text, size_t pos, std::vector<WqlToken>& out) {
  const std::string where = " at column " + std::to_string(wqlColumn(text, pos));
  if (text.substr(pos, 2) == "==") throw invalidQuery("found '=='" + where + ", expected =");
  static constexpr std::string_view kTwo[] = {"<>", "!=", "<=", ">="};
  for (std::string_view two : kTwo) {
    if (text.substr(pos, 2) == two) {
      out.push_back(token(WqlToken::Kind::Symbol, std::string(two), text, pos, pos + 2));
      return pos + 2;
    }
  }
  static constexpr std::string_view kOne = "=<>(),*+-.";
  if (kOne.find(text[pos]) == std::string_view::npos) {
    size_t end = pos + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    const std::string shown = c < 0x20 || c == 0x7F ? "character " + std::to_string(c)
                                                    : quotedExcerpt(text, pos, end - pos);
    throw invalidQuery("found " + shown + where + ", which is no part of a query");
  }
  out.push_back(token(WqlToken::Kind::Symbol, std::string(1, text[pos]), text, pos, pos + 1));
  return pos + 1;
}

}  // namespace kestrava::service
