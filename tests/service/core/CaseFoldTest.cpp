#include <gtest/gtest.h>

#include <string>

#include "service/CaseFold.h"

namespace kestrava::service {
namespace {

TEST(CaseFold, FoldsLettersOfSeveralScripts) {
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
