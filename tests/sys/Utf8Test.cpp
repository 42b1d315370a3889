#include "sys/Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrava::sys {
namespace {

using namespace std::string_literals;

TEST(Utf8, DecodesValidSequencesAndMarksInvalidBytes) {
  struct Case {
    std::string text;
    std::vector<char32_t> expected;
  };
  const Case cases[] = {
      {"a", {'a'}},
      {"\xC3\xA4", {0xE4}},
      {"\xE2\x82\xAC", {0x20AC}},
      {"\xF0\x9F\x98\x80", {0x1F600}},
      {"\xFF", {kInvalidByteBase + 0xFF}},
      {"\xC3", {kInvalidByteBase + 0xC3}},                               // cut short
      {"\xC0\xAF", {kInvalidByteBase + 0xC0, kInvalidByteBase + 0xAF}},  // overlong
      {"\xED\xA0\x80", {kInvalidByteBase + 0xED, kInvalidByteBase + 0xA0, kInvalidByteBase + 0x80}},
      {"\xF4\x90\x80\x80",
       {kInvalidByteBase + 0xF4, kInvalidByteBase + 0x90, kInvalidByteBase + 0x80,
        kInvalidByteBase + 0x80}},  // above U+10FFFF
      {"\xC3x", {kInvalidByteBase + 0xC3, 'x'}},
  };
  for (const auto& c : cases) {
    std::vector<char32_t> got;
    for (size_t pos = 0; pos < c.text.size();) got.push_back(decodeUtf8(c.text, pos));
    EXPECT_EQ(got, c.expected) << c.text;
  }
}

TEST(Utf8, EncodeRoundTrips) {
  for (char32_t c : {char32_t{'a'}, char32_t{0xE4}, char32_t{0x20AC}, char32_t{0x1F600}}) {
    std::string s;
    appendUtf8(s, c);
    size_t pos = 0;
    EXPECT_EQ(decodeUtf8(s, pos), c);
    EXPECT_EQ(pos, s.size());
  }
}

// Both rules replace byte by byte; they differ only in what stands for a bad byte.
TEST(Utf8, InvalidBytesAreReplacedOneByOne) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    std::string in, replaced, questionMarks;
  } cases[] = {
      {"plain ascii", "plain ascii", "plain ascii"},
      {"line\nbreak and  spaces", "line\nbreak and  spaces", "line\nbreak and  spaces"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      {"bad\xFF\xFEname", "bad" + r + r + "name", "bad??name"},
      {"overlong \xC0\x80", "overlong " + r + r, "overlong ??"},
      {"surrogate \xED\xA0\x80", "surrogate " + r + r + r, "surrogate ???"},
      {"cut \xE2\x82", "cut " + r + r, "cut ??"},
      {"a\xff"
       "b\xe2\x82",
       "a" + r + "b" + r + r, "a?b??"},
      {"too high \xF4\x90\x80\x80", "too high " + r + r + r + r, "too high ????"},
      {"lone continuation \x80x", "lone continuation " + r + "x", "lone continuation ?x"},
      {"nul\0inside"s, "nul\0inside"s, "nul\0inside"s},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(validUtf8(c.in), c.replaced) << c.in;
    EXPECT_EQ(validUtf8WithQuestionMarks(c.in), c.questionMarks) << c.in;
    EXPECT_EQ(isValidUtf8(c.in), c.in == c.replaced) << c.in;
  }
}

}  // namespace
}  // namespace kestrava::sys
