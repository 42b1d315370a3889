#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "core/ComError.h"
#include "service/CaseFold.h"
#include "service/LikePattern.h"
#include "service/QueryFilter.h"
#include "service/WqlParser.h"
#include "sys/Utf8.h"

namespace kestrava::service {
namespace {

SchemaPtr sampleSchema() {
  static const SchemaPtr schema = std::make_shared<const ClassSchema>(
      "Sample", "Name",
      std::vector<std::string>{"Name", "Pid", "Load", "Flag", "Size", "Nothing", "Unread", "Tags",
                               "Word", "Date"},
      std::vector<PropertyType>{PropertyType::Other, PropertyType::Other, PropertyType::Other,
                                PropertyType::Other, PropertyType::Integer64, PropertyType::Other,
                                PropertyType::Other, PropertyType::Other, PropertyType::Other,
                                PropertyType::Other});
  return schema;
}

ManagementObject sampleObject() {
  ManagementObject o(sampleSchema());
  o.set("Name", Value::text("Sshd"));
  o.set("Pid", Value::integer(42));
  o.set("Load", Value::real(2.5));
  o.set("Flag", Value::boolean(true));
  o.set("Size", Value::text("12345678901"));
  o.set("Nothing", Value::null());
  o.set("Tags", Value::array({Value::text("a"), Value::text("b")}));
  o.set("Word", Value::text("\xC3\x84rger"));  // Ärger
  o.set("Date", Value::text("20240102030405.000000+060"));
  return o;
}

bool matches(const std::string& where) {
  SelectQuery q = WqlParser::parseSelect("Select * From Sample Where " + where);
  QueryFilter filter(*q.where, *sampleSchema());
  return filter.matches(sampleObject());
}

struct WhereCase {
  const char* where;
  bool expected;
};

class WhereSemantics : public ::testing::TestWithParam<WhereCase> {};

TEST_P(WhereSemantics, AgainstOneObject) {
  EXPECT_EQ(matches(GetParam().where), GetParam().expected) << GetParam().where;
}

INSTANTIATE_TEST_SUITE_P(
    Text, WhereSemantics,
    ::testing::Values(WhereCase{"Name = 'sshd'", true}, WhereCase{"Name = 'SSHD'", true},
                      WhereCase{"name = \"sShD\"", true}, WhereCase{"Name <> 'sshd'", false},
                      WhereCase{"Name = 'ssh'", false}, WhereCase{"Name < 'T'", true},
                      WhereCase{"Name > 'sshc'", true}, WhereCase{"Name >= 'SSHD'", true},
                      WhereCase{"Name <= 'a'", false}, WhereCase{"Word = '\xC3\xA4RGER'", true},
                      WhereCase{"Date > '20240101000000.000000+000'", true},
                      WhereCase{"Name = 5", false}, WhereCase{"Name <> 5", false},
                      WhereCase{"Name = True", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    Numbers, WhereSemantics,
    ::testing::Values(WhereCase{"Pid = 42", true}, WhereCase{"Pid = 42.0", true},
                      WhereCase{"Pid < 42.5", true}, WhereCase{"Pid > 41.9", true},
                      WhereCase{"Pid <> 42", false}, WhereCase{"Pid = '42'", true},
                      WhereCase{"Pid = 'x'", false}, WhereCase{"Pid <> 'x'", false},
                      WhereCase{"Pid = True", false}, WhereCase{"Pid > -1", true},
                      WhereCase{"Pid > -9223372036854775808", true}, WhereCase{"5 < Pid", true},
                      WhereCase{"50 < Pid", false}, WhereCase{"Load > 2", true},
                      WhereCase{"Load = 2.5", true}, WhereCase{"Load = '2.5'", true},
                      WhereCase{"Load < 2", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    CountsAsText, WhereSemantics,
    ::testing::Values(WhereCase{"Size > 10000000000", true}, WhereCase{"Size = 12345678901", true},
                      WhereCase{"Size < 5", false}, WhereCase{"Size = '12345678901'", true},
                      WhereCase{"Size > 1.2e10", true}, WhereCase{"Name > 1", false},
                      // A 64-bit count compares as a number whatever form its literal takes.
                      WhereCase{"Size > '9999999999'", true},
                      WhereCase{"Size < '9999999999'", false},
                      WhereCase{"Size = '1.2345678901e10'", true},
                      WhereCase{"'200000000000' > Size", true}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    Booleans, WhereSemantics,
    ::testing::Values(WhereCase{"Flag = True", true}, WhereCase{"Flag = 'true'", true},
                      WhereCase{"Flag <> False", true}, WhereCase{"Flag = False", false},
                      WhereCase{"Flag = 1", false}, WhereCase{"Flag = 'yes'", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    NullsAndArrays, WhereSemantics,
    ::testing::Values(WhereCase{"Nothing = 'x'", false}, WhereCase{"Nothing <> 'x'", false},
                      WhereCase{"Nothing < 1", false}, WhereCase{"Nothing Is Null", true},
                      WhereCase{"Nothing Is Not Null", false}, WhereCase{"Nothing = Null", true},
                      WhereCase{"Unread Is Null", true}, WhereCase{"Name Is Null", false},
                      WhereCase{"Name Is Not Null", true}, WhereCase{"Nothing Like '%'", false},
                      WhereCase{"Not (Nothing = 'x')", true}, WhereCase{"Tags = 'a'", false},
                      WhereCase{"Tags Is Not Null", true}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    Like, WhereSemantics,
    ::testing::Values(WhereCase{"Name Like 's%'", true}, WhereCase{"Name Like '_shd'", true},
                      WhereCase{"Name Like 'S_H_'", true}, WhereCase{"Name Like '%h%'", true},
                      WhereCase{"Name Like 'ssh'", false}, WhereCase{"Name Like '[a-s]shd'", true},
                      WhereCase{"Name Like '[^s]%'", false}, WhereCase{"Name Not Like 'x%'", true},
                      WhereCase{"Pid Like '4%'", true}, WhereCase{"Word Like '\xC3\xA4%'", true},
                      WhereCase{"Word Like '_rger'", true}, WhereCase{"Flag Like 'T%'", true}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    Logic, WhereSemantics,
    ::testing::Values(
        WhereCase{"Name = 'sshd' And Pid = 42", true},
        WhereCase{"Name = 'sshd' And Pid = 43", false}, WhereCase{"Name = 'x' Or Pid = 42", true},
        WhereCase{"Name = 'x' Or Pid = 43", false}, WhereCase{"Not Name = 'sshd'", false},
        WhereCase{"Not Not Name = 'sshd'", true}, WhereCase{"Not (Name = 'x' Or Pid = 1)", true},
        WhereCase{"(Name = 'x' Or Pid = 42) And Flag = True", true},
        WhereCase{"Name = 'x' Or Pid = 42 And Flag = False", false}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(WhereBinding, PropertiesAreResolvedOnceAndUnknownOnesRefused) {
  auto q = WqlParser::parseSelect("Select * From Sample Where pid = 1 Or PID = 2 Or Name = 'a'");
  QueryFilter filter(*q.where, *sampleSchema());
  EXPECT_EQ(filter.properties(), (std::vector<size_t>{1, 0}));

  const std::pair<const char*, const char*> refused[] = {
      {"Missing = 1", "Invalid query: Sample has no property Missing"},
      {"Size > 'big'", "Invalid query: 'big' is not a number, and Size is a 64-bit integer"},
  };
  for (const auto& [where, description] : refused) {
    auto q = WqlParser::parseSelect(std::string("Select * From Sample Where ") + where);
    try {
      QueryFilter bad(*q.where, *sampleSchema());
      FAIL() << "bound " << where;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), -2147217385);
      EXPECT_EQ(e.description(), description);
    }
  }
}

TEST(WhereBinding, MalformedOrOverlongLikeIsInvalidQuery) {
  const std::string longest(LikePattern::kMaxPatternBytes, '_');
  EXPECT_NO_THROW(LikePattern{longest});
  for (const std::string& pattern : {std::string("[abc"), std::string("[z-a]"), std::string("x["),
                                     std::string("[^"), "%" + longest}) {
    try {
      LikePattern p(pattern);
      FAIL() << pattern.substr(0, 20);
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), -2147217385) << pattern.substr(0, 20);
    }
  }
}

struct LikeCase {
  const char* pattern;
  const char* text;
  bool expected;
};

class LikeMatching : public ::testing::TestWithParam<LikeCase> {};

TEST_P(LikeMatching, WholeText) {
  const auto& c = GetParam();
  EXPECT_EQ(LikePattern(c.pattern).matches(c.text), c.expected)
      << "'" << c.text << "' Like '" << c.pattern << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, LikeMatching,
    ::testing::Values(LikeCase{"", "", true}, LikeCase{"", "a", false}, LikeCase{"%", "", true},
                      LikeCase{"%", "anything", true}, LikeCase{"%%%", "x", true},
                      LikeCase{"_", "", false}, LikeCase{"_", "\xC3\xA4", true},
                      LikeCase{"a_c",
                               "a\xC3\xA4"
                               "c",
                               true},
                      LikeCase{"%ab%ab", "xxabyab", true}, LikeCase{"%ab%ab", "xxabyaba", false},
                      LikeCase{"%a%b%c%", "zzazzbzzczz", true}, LikeCase{"a%", "A", true},
                      LikeCase{"[%]%", "%x", true}, LikeCase{"[_]", "x", false},
                      LikeCase{"[]]", "]", true}, LikeCase{"[a-c]", "B", true},
                      LikeCase{"[^a-c]", "d", true}, LikeCase{"[^a-c]", "b", false},
                      LikeCase{"[-a]", "-", true}, LikeCase{"[a-]", "-", true},
                      LikeCase{"%.service", "ssh.service", true},
                      LikeCase{"%.service", "ssh.socket", false}, LikeCase{"%", "\xFF\xFE", true},
                      LikeCase{"__", "\xFF\xFE", true}, LikeCase{"_", "\xFF\xFE", false},
                      LikeCase{"a", "\xFF", false}, LikeCase{"\xFF", "\xFF", true}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// The obvious quadratic matcher over code points, as the yardstick for the fast one.
bool referenceLike(const std::u32string& p, const std::u32string& t) {
  std::vector<std::vector<signed char>> memo(p.size() + 1,
                                             std::vector<signed char>(t.size() + 1, -1));
  std::function<bool(size_t, size_t)> at = [&](size_t i, size_t j) {
    signed char& known = memo[i][j];
    if (known >= 0) return known == 1;
    bool result = false;
    if (i == p.size()) {
      result = j == t.size();
    } else if (p[i] == U'%') {
      result = at(i + 1, j) || (j < t.size() && at(i, j + 1));
    } else if (j < t.size()) {
      const char32_t c = foldCase(t[j]);
      if (p[i] == U'_') {
        result = at(i + 1, j + 1);
      } else if (p[i] == U'[') {  // the generator writes sets as [x] or [^x], x a letter
        const bool negated = p[i + 1] == U'^';
        const char32_t x = foldCase(p[i + (negated ? 2 : 1)]);
        result = (c == x) != negated && at(i + (negated ? 4 : 3), j + 1);
      } else {
        result = foldCase(p[i]) == c && at(i + 1, j + 1);
      }
    }
    known = result ? 1 : 0;
    return result;
  };
  return at(0, 0);
}

std::string utf8(const std::u32string& s) {
  std::string out;
  for (char32_t c : s) sys::appendUtf8(out, c);
  return out;
}

TEST(LikeMatching, AgreesWithTheQuadraticMatcherOnRandomPatterns) {
  std::mt19937 rng(7031);
  const std::u32string letters = U"aAb\u00e4\u00c4\u0436";  // a, A, b, a-umlaut both cases, zhe
  auto letter = [&] { return letters[rng() % letters.size()]; };
  int matched = 0;
  for (int round = 0; round < 4000; ++round) {
    std::u32string text, pattern;
    const size_t textLength = rng() % (round % 10 == 0 ? 300 : 12);
    for (size_t i = 0; i < textLength; ++i) text += letter();
    // Long runs of letters cross the 64-character words of the matcher now and then.
    const size_t elements = rng() % (round % 10 == 1 ? 160 : 8);
    for (size_t i = 0; i < elements; ++i) {
      switch (rng() % 8) {
        case 0:
          pattern += U'%';
          break;
        case 1:
          pattern += U'_';
          break;
        case 2:
          pattern += (rng() % 2 ? U"[^" : U"[") + std::u32string(1, letter()) + U"]";
          break;
        default:
          pattern += letter();
      }
    }
    if (round % 3 == 0 && !text.empty()) pattern = U"%" + text.substr(rng() % text.size()) + U"%";
    const bool expected = referenceLike(pattern, text);
    matched += expected;
    ASSERT_EQ(LikePattern(utf8(pattern)).matches(utf8(text)), expected)
        << "'" << utf8(text) << "' Like '" << utf8(pattern) << "'";
  }
  EXPECT_GT(matched, 400) << "the generator should give matches too";
}

}  // namespace
}  // namespace kestrava::service
