#include "service/ObjectPath.h"

#include "service/ServiceErrors.h"

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

  std::string name() {
    const size_t start = pos_;
    while (pos_ < text_.size() && isNameChar(text_[pos_])) ++pos_;
    if (pos_ == start || isDigit(text_[start])) throw invalidObjectPath();
    return std::string(text_.substr(start, pos_ - start));
  }

  std::string key() {
    if (pos_ < text_.size() && (text_[pos_] == '\'' || text_[pos_] == '"')) return quoted();
    const size_t start = pos_;
    if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
    const size_t digits = pos_;
    while (pos_ < text_.size() && isDigit(text_[pos_])) ++pos_;
    if (pos_ == digits) throw invalidObjectPath();
    return std::string(text_.substr(start, pos_ - start));
  }

 private:
  std::string quoted() {
    const char quote = text_[pos_++];
    std::string key;
    while (pos_ < text_.size() && text_[pos_] != quote) {
      if (text_[pos_] == '\\' && ++pos_ >= text_.size()) break;
      key += text_[pos_++];
    }
    if (!accept(quote)) throw invalidObjectPath();  // unterminated
    return key;
  }

  std::string_view text_;
  size_t pos_ = 0;
};
}  // namespace

ObjectPath ObjectPath::parse(std::string_view text) {
  PathReader reader(text);
  ObjectPath path;
  reader.skipSpace();
  path.className = reader.name();
  if (reader.accept('.')) path.keyProperty = reader.name();
  reader.skipSpace();
  if (!reader.accept('=')) throw invalidObjectPath();
  reader.skipSpace();
  path.key = reader.key();
  reader.skipSpace();
  if (!reader.atEnd()) throw invalidObjectPath();
  return path;
}

}  // namespace kestrava::service
