#include "service/LikePattern.h"

#include <cstdint>

#include "service/ServiceErrors.h"
#include "service/Utf8.h"

namespace kestrava::service {

LikePattern::LikePattern(std::string_view pattern) {
  size_t pos = 0;
  while (pos < pattern.size()) {
    const char c = pattern[pos];
    if (c == '%') {
      ++pos;
      // Consecutive runs match what one run matches.
      if (elements_.empty() || elements_.back().kind != Kind::AnyRun)
        elements_.push_back({Kind::AnyRun});
    } else if (c == '_') {
      ++pos;
      elements_.push_back({Kind::AnyOne});
    } else if (c == '[') {
      pos = compileSet(pattern, pos + 1);
    } else {
      Element e{Kind::Literal};
      e.literal = foldCase(decodeUtf8(pattern, pos));
      elements_.push_back(e);
    }
  }
}

// Reads a set after its '[' up to the closing ']'; returns the position after it.
size_t LikePattern::compileSet(std::string_view pattern, size_t pos) {
  Element e{Kind::Set};
  e.firstRange = ranges_.size();
  if (pos < pattern.size() && pattern[pos] == '^') {
    e.negated = true;
    ++pos;
  }
  bool first = true;
  while (pos < pattern.size() && (pattern[pos] != ']' || first)) {
    first = false;
    const char32_t low = foldCase(decodeUtf8(pattern, pos));
    char32_t high = low;
    if (pos + 1 < pattern.size() && pattern[pos] == '-' && pattern[pos + 1] != ']') {
      ++pos;
      high = foldCase(decodeUtf8(pattern, pos));
      if (high < low) throw invalidQuery();
    }
    ranges_.push_back({low, high});
  }
  if (pos >= pattern.size()) throw invalidQuery();
  e.rangeCount = ranges_.size() - e.firstRange;
  elements_.push_back(e);
  return pos + 1;
}

bool LikePattern::matchesOne(const Element& element, char32_t c) const {
  switch (element.kind) {
    case Kind::Literal:
      return element.literal == c;
    case Kind::AnyOne:
      return true;
    case Kind::Set: {
      bool in = false;
      for (size_t i = 0; i < element.rangeCount && !in; ++i) {
        const Range& r = ranges_[element.firstRange + i];
        in = c >= r.first && c <= r.last;
      }
      return in != element.negated;
    }
    case Kind::AnyRun:
      break;
  }
  return false;
}

// Wildcard matching with one backtrack point: on a mismatch, the last % takes one more character.
bool LikePattern::matches(std::string_view text) const {
  size_t e = 0, t = 0;
  size_t starElement = SIZE_MAX, starText = 0;
  while (t < text.size()) {
    if (e < elements_.size() && elements_[e].kind == Kind::AnyRun) {
      starElement = e++;
      starText = t;
      continue;
    }
    size_t next = t;
    const char32_t c = foldCase(decodeUtf8(text, next));
    if (e < elements_.size() && matchesOne(elements_[e], c)) {
      ++e;
      t = next;
    } else if (starElement != SIZE_MAX) {
      e = starElement + 1;
      decodeUtf8(text, starText);
      t = starText;
    } else {
      return false;
    }
  }
  while (e < elements_.size() && elements_[e].kind == Kind::AnyRun) ++e;
  return e == elements_.size();
}

}  // namespace kestrava::service
