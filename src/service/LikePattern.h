#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestrava::service {

// A WQL Like pattern, compiled once per query: % matches any run of characters, _ exactly one,
// [abc], [a-z] and [^a-z] one character of (or not of) a set; everything else matches itself,
// without regard to case. A malformed set, or a pattern longer than kMaxPatternBytes, throws
// ComError "Invalid query".
//
// Matching costs the text's length times (pattern length / 64) at most: the runs between two %
// are found by bit-parallel matching, each leftmost and after the one before, which is where a
// match of the whole pattern can put them.
class LikePattern {
 public:
  static constexpr size_t kMaxPatternBytes = 4096;

  explicit LikePattern(std::string_view pattern);

  // Matches the whole text; no allocation, so it is cheap per object.
  bool matches(std::string_view text) const;

 private:
  static constexpr size_t kWordBits = 64;
  static constexpr size_t kMaxWords = kMaxPatternBytes / kWordBits;
  static constexpr char32_t kAsciiEnd = 0x80;

  // One character of the pattern: the ranges of folded code points it accepts.
  struct Element {
    bool any = false;      // _
    bool negated = false;  // [^...]
    size_t firstRange = 0;
    size_t rangeCount = 0;
  };
  struct Range {
    char32_t first, last;
  };
  // The elements between two %, each matching one character. Bit i of a mask is set when the
  // segment's element i accepts the character.
  struct Segment {
    size_t length = 0;
    size_t words = 0;
    size_t asciiMasks = 0;  // masks_ offset: one mask per ASCII code point
    size_t firstBreak = 0;  // breaks_[firstBreak, +breakCount): where the non-ASCII masks change
    size_t breakCount = 0;
    size_t otherMasks = 0;  // masks_ offset: one mask per interval between the breaks
  };

  size_t compileSet(std::string_view pattern, size_t pos, Element& element);
  bool accepts(const Element& element, char32_t c) const;
  void compileSegment(size_t firstElement, size_t lastElement);
  const uint64_t* maskOf(const Segment& segment, char32_t c) const;
  bool matchesAt(const Segment& segment, std::string_view text, size_t& pos) const;
  bool findIn(const Segment& segment, std::string_view text, size_t& pos, bool toEnd) const;

  // Without %, the one segment is the whole text; with it, the first segment begins the text,
  // the last ends it, and the ones between are found in order.
  bool hasRun_ = false;
  std::vector<Element> elements_;
  std::vector<Range> ranges_;
  std::vector<Segment> segments_;
  std::vector<char32_t> breaks_;
  std::vector<uint64_t> masks_;
};

}  // namespace kestrava::service
