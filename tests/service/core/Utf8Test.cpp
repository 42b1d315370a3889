#include <gtest/gtest.h>

#include <string>

#include "service/Utf8.h"

namespace kestrava::service {
namespace {

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

TEST(Utf8, FoldsLettersOfSeveralScripts) {
  struct Case {
    const char* a;
    const char* b;
    int expected;
  };
  const Case cases[] = {
      {"ABC", "abc", 0},
      {"\xC3\x84rger", "\xC3\xA4RGER", 0},  // Ä ä
      {"\xC5\x81\xC3\xB3"
       "d\xC5\xBA",
       "\xC5\x82\xC3\x93"
       "D\xC5\xB9",
       0},                                                          // Łódź
      {"\xCE\xA3\xCE\x99\xCE\xA3", "\xCF\x83\xCE\xB9\xCF\x82", 0},  // ΣΙΣ σις
      {"\xD0\x9C\xD0\x81\xD0\x94", "\xD0\xBC\xD1\x91\xD0\xB4", 0},  // МЁД мёд
      {"\xEF\xBC\xA1", "\xEF\xBD\x81", 0},                          // Ａ ａ
      {"a", "b", -1},
      {"b", "A", 1},
      {"ab", "a", 1},
      {"", "a", -1},
      {"\xFF", "\xFE", 1},
      {"\xFF", "\xC3\xBF", 1},  // an invalid byte is not ÿ
  };
  for (const auto& c : cases) EXPECT_EQ(compareFolded(c.a, c.b), c.expected) << c.a << " " << c.b;
}

}  // namespace
}  // namespace kestrava::service
