#pragma once

#include <string_view>
#include <vector>

namespace kestrava::service {

// A WQL Like pattern, compiled once per query: % matches any run of characters, _ exactly one,
// [abc], [a-z] and [^a-z] one character of (or not of) a set; everything else matches itself,
// without regard to case. A malformed set throws ComError "Invalid query".
class LikePattern {
 public:
  explicit LikePattern(std::string_view pattern);

  // Matches the whole text; no allocation, so it is cheap per object.
  bool matches(std::string_view text) const;

 private:
  enum class Kind { Literal, AnyOne, AnyRun, Set };
  struct Range {
    char32_t first, last;
  };
  struct Element {
    Kind kind;
    char32_t literal = 0;   // folded
    bool negated = false;   // for Set
    size_t firstRange = 0;  // for Set: ranges_[firstRange, firstRange + rangeCount)
    size_t rangeCount = 0;
  };

  size_t compileSet(std::string_view pattern, size_t pos);
  bool matchesOne(const Element& element, char32_t c) const;

  std::vector<Element> elements_;
  std::vector<Range> ranges_;
};

}  // namespace kestrava::service
