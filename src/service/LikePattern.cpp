#include "service/LikePattern.h"

#include <algorithm>

#include "service/CaseFold.h"
#include "service/ServiceErrors.h"
#include "sys/Utf8.h"

namespace kestrava::service {

LikePattern::LikePattern(std::string_view pattern) {
  if (pattern.size() > kMaxPatternBytes)
    throw invalidQuery("a Like pattern is longer than " + std::to_string(kMaxPatternBytes) +
                       " bytes");
  std::vector<size_t> cuts{0};  // element index where each segment begins, then the end
  size_t pos = 0;
  while (pos < pattern.size()) {
    const char c = pattern[pos];
    Element e;
    if (c == '%') {
      ++pos;
      hasRun_ = true;
      cuts.push_back(elements_.size());
      continue;
    }
    if (c == '_') {
      ++pos;
      e.any = true;
    } else if (c == '[') {
      pos = compileSet(pattern, pos + 1, e);
    } else {
      const char32_t literal = foldCase(sys::decodeUtf8(pattern, pos));
      e.firstRange = ranges_.size();
      e.rangeCount = 1;
      ranges_.push_back({literal, literal});
    }
    elements_.push_back(e);
  }
  cuts.push_back(elements_.size());
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    const bool edge = i == 0 || i + 2 == cuts.size();
    // An empty segment between two % matches anywhere; the first and last keep their places.
    if (edge || cuts[i] != cuts[i + 1]) compileSegment(cuts[i], cuts[i + 1]);
  }
}

// Reads a set after its '[' up to the closing ']'; returns the position after it.
size_t LikePattern::compileSet(std::string_view pattern, size_t pos, Element& e) {
  e.firstRange = ranges_.size();
  if (pos < pattern.size() && pattern[pos] == '^') {
    e.negated = true;
    ++pos;
  }
  bool first = true;
  while (pos < pattern.size() && (pattern[pos] != ']' || first)) {
    first = false;
    const char32_t low = foldCase(sys::decodeUtf8(pattern, pos));
    char32_t high = low;
    if (pos + 1 < pattern.size() && pattern[pos] == '-' && pattern[pos + 1] != ']') {
      ++pos;
      high = foldCase(sys::decodeUtf8(pattern, pos));
      if (high < low) throw invalidQuery("a range of a Like pattern runs backwards");
    }
    ranges_.push_back({low, high});
  }
  if (pos >= pattern.size()) throw invalidQuery("a Like pattern has a [ with no ]");
  e.rangeCount = ranges_.size() - e.firstRange;
  return pos + 1;
}

bool LikePattern::accepts(const Element& element, char32_t c) const {
  if (element.any) return true;
  const auto first = ranges_.begin() + static_cast<ptrdiff_t>(element.firstRange);
  const bool in = std::any_of(first, first + static_cast<ptrdiff_t>(element.rangeCount),
                              [c](const Range& r) { return c >= r.first && c <= r.last; });
  return in != element.negated;
}

// Masks for every ASCII character, and for each interval of other code points in which no
// element changes its answer.
void LikePattern::compileSegment(size_t firstElement, size_t lastElement) {
  Segment s;
  s.length = lastElement - firstElement;
  s.words = (s.length + kWordBits - 1) / kWordBits;
  const auto setBits = [&](size_t maskOffset, char32_t c) {
    for (size_t i = 0; i < s.length; ++i)
      if (accepts(elements_[firstElement + i], c))
        masks_[maskOffset + i / kWordBits] |= uint64_t{1} << (i % kWordBits);
  };

  s.asciiMasks = masks_.size();
  masks_.resize(masks_.size() + kAsciiEnd * s.words);
  for (char32_t c = 0; c < kAsciiEnd; ++c) setBits(s.asciiMasks + c * s.words, c);

  s.firstBreak = breaks_.size();
  for (size_t i = firstElement; i < lastElement; ++i) {
    const Element& e = elements_[i];
    for (size_t r = e.firstRange; r < e.firstRange + e.rangeCount; ++r) {
      if (ranges_[r].last < kAsciiEnd) continue;
      if (ranges_[r].first > kAsciiEnd) breaks_.push_back(ranges_[r].first);
      breaks_.push_back(ranges_[r].last + 1);
    }
  }
  const auto begin = breaks_.begin() + static_cast<ptrdiff_t>(s.firstBreak);
  std::sort(begin, breaks_.end());
  breaks_.erase(std::unique(begin, breaks_.end()), breaks_.end());
  s.breakCount = breaks_.size() - s.firstBreak;

  s.otherMasks = masks_.size();
  masks_.resize(masks_.size() + (s.breakCount + 1) * s.words);
  for (size_t k = 0; k <= s.breakCount; ++k)
    setBits(s.otherMasks + k * s.words, k == 0 ? kAsciiEnd : breaks_[s.firstBreak + k - 1]);
  segments_.push_back(s);
}

const uint64_t* LikePattern::maskOf(const Segment& s, char32_t c) const {
  if (c < kAsciiEnd) return &masks_[s.asciiMasks + c * s.words];
  const auto begin = breaks_.begin() + static_cast<ptrdiff_t>(s.firstBreak);
  const auto k = std::upper_bound(begin, begin + static_cast<ptrdiff_t>(s.breakCount), c) - begin;
  return &masks_[s.otherMasks + static_cast<size_t>(k) * s.words];
}

// The segment at pos exactly; pos moves past it.
bool LikePattern::matchesAt(const Segment& s, std::string_view text, size_t& pos) const {
  for (size_t i = 0; i < s.length; ++i) {
    if (pos >= text.size()) return false;
    const uint64_t* mask = maskOf(s, foldCase(sys::decodeUtf8(text, pos)));
    if (!(mask[i / kWordBits] >> (i % kWordBits) & 1)) return false;
  }
  return true;
}

// The segment's leftmost occurrence at or after pos, pos then past it; with toEnd, whether one
// ends where the text ends. Bit i of the state: the last i + 1 characters match elements 0..i.
bool LikePattern::findIn(const Segment& s, std::string_view text, size_t& pos, bool toEnd) const {
  if (s.length == 0) return true;
  uint64_t state[kMaxWords];
  std::fill_n(state, s.words, 0);
  const size_t lastWord = (s.length - 1) / kWordBits;
  const uint64_t lastBit = uint64_t{1} << ((s.length - 1) % kWordBits);
  while (pos < text.size()) {
    const uint64_t* mask = maskOf(s, foldCase(sys::decodeUtf8(text, pos)));
    uint64_t carry = 1;  // a match may begin at every character
    for (size_t w = 0; w < s.words; ++w) {
      const uint64_t before = state[w];
      state[w] = ((before << 1) | carry) & mask[w];
      carry = before >> (kWordBits - 1);
    }
    if (!toEnd && (state[lastWord] & lastBit)) return true;
  }
  return toEnd && (state[lastWord] & lastBit);
}

bool LikePattern::matches(std::string_view text) const {
  size_t pos = 0;
  if (!matchesAt(segments_.front(), text, pos)) return false;
  if (!hasRun_) return pos == text.size();
  for (size_t i = 1; i + 1 < segments_.size(); ++i)
    if (!findIn(segments_[i], text, pos, false)) return false;
  return findIn(segments_.back(), text, pos, true);
}

}  // namespace kestrava::service
