#include <gtest/gtest.h>

#include <string>

#include "core/ComError.h"
#include "service/LikePattern.h"
#include "service/QueryFilter.h"
#include "service/WqlParser.h"

namespace kestrava::service {
namespace {

SchemaPtr sampleSchema() {
  static const SchemaPtr schema = std::make_shared<const ClassSchema>(
      "Sample", "Name",
      std::vector<std::string>{"Name", "Pid", "Load", "Flag", "Size", "Nothing", "Unread", "Tags",
                               "Word", "Date"});
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
                      WhereCase{"Size > 1.2e10", true}, WhereCase{"Name > 1", false}),
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

  auto unknown = WqlParser::parseSelect("Select * From Sample Where Missing = 1");
  try {
    QueryFilter bad(*unknown.where, *sampleSchema());
    FAIL() << "bound an unknown property";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), -2147217385);
  }
}

TEST(WhereBinding, MalformedLikeSetIsInvalidQuery) {
  for (const char* pattern : {"[abc", "[z-a]", "x[", "[^"}) {
    try {
      LikePattern p(pattern);
      FAIL() << pattern;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), -2147217385) << pattern;
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

}  // namespace
}  // namespace kestrava::service
