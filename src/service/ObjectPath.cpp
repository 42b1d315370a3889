#include "service/ObjectPath.h"

#include "service/ServiceErrors.h"
#include "service/WqlLexer.h"

namespace kestrava::service {

namespace {
bool isSpace(char c) {
  return c == ' ' || c == '\t';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || isDigit(c);
}

class PathReader {
 public:
  explicit PathReader(std::string_view text) : text_(text) {}

  void skipSpace() {
    while (pos_ < text_.size() && isSpace(text_[pos_])) ++pos_;
  }
  bool accept(char c) {
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  bool atEnd() const { return pos_ >= text_.size(); }

  // what: "a class name", "a key property name"
  std::string name(std::string_view what) {
    const size_t start = pos_;
    while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
    if (pos_ == start || isDigit(text_[start])) {
      pos_ = start;
      refuse("expected " + std::string(what));
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  std::string key() {
    if (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '"')) return quoted();
    const size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    const size_t digits = pos_;
    while (pos_ < text_.size() && isDigit(text_[pos_])) ++pos_;
    if (pos_ == digits) {
      pos_ = start;
      refuse("expected a key in quotes or a whole number");
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  // Names what stands at the reading position and where, then what was expected.
  [[noreturn]] void refuse(const std::string& expected) const {
    const std::string column = " at column " + std::to_string(wqlColumn(text_, pos_));
    if (atEnd()) throw invalidObjectPath("the path ends" + column + ", " + expected);
    if (isSpace(text_[pos_])) throw invalidObjectPath("found a blank" + column + ", " + expected);
    throw invalidObjectPath("found " + what() + column + ", " + expected);
  }

 private:
  std::string quoted() {
    const size_t opened = pos_;
    const char quote = text_[pos_++];
    std::string key;
    while (pos_ < text_.size() && text_[pos_] != quote) {
      if (text_[pos_] == '\\' && ++pos_ >= text_.size()) break;
      key += text_[pos_++];
    }
    if (!accept(quote))
      throw invalidObjectPath("the quote at column " + std::to_string(wqlColumn(text_, opened)) +
                              " is never closed");
    return key;
  }

  // The text at the reading position up to the next blank, quoted and cut short.
  std::string what() const {
    size_t end = pos_ + 1;
    while (end < text_.size() && !isSpace(text_[end])) ++end;
    return quotedExcerpt(text_, pos_, end - pos_);
  }

  std::string_view text_;
  size_t pos_ = 0;
};
}  // namespace

ObjectPath ObjectPath::parse(std::string_view text) {
  PathReader reader(text);
  ObjectPath path;
  reader.skipSpace();
  path.className = reader.name("a class name");
  if (reader.accept('.')) path.keyProperty = reader.name("a key property name");
  reader.skipSpace();
  if (!reader.accept('=')) reader.refuse("expected =");
  reader.skipSpace();
  path.key = reader.key();
  reader.skipSpace();
  if (!reader.atEnd()) reader.refuse("expected the end after the key");
  return path;
}

}  // namespace kestrava::service
