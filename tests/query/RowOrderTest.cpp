#include <gtest/gtest.h>

#include <algorithm>

#include "query/RowOrder.h"

namespace kestrava::query {
namespace {

TEST(NaturalOrder, DigitsByValueLettersWithoutCasePunctuationFirst) {
  // Each text sorts before the next.
  const std::vector<std::string> ascending = {"",     " x",    "_x", "-x", "x",  "x2", "x10",
                                              "x10a", "x010b", "xa", "xB", "xc", "y",  "\xC3\xA4"};
  for (size_t i = 0; i < ascending.size(); ++i)
    for (size_t j = 0; j < ascending.size(); ++j)
      EXPECT_EQ(compareNaturally(ascending[i], ascending[j]), i < j   ? -1
                                                              : i > j ? 1
                                                                      : 0)
          << '"' << ascending[i] << "\" \"" << ascending[j] << '"';
  EXPECT_EQ(compareNaturally("CRON.service", "cron.SERVICE"), 0);
  EXPECT_EQ(compareNaturally("sda007", "sda7"), 0);
  EXPECT_LT(compareNaturally("99999999999999999999999", "100000000000000000000000"), 0);
}

TEST(NaturalOrder, ValuesBlankFirstNumbersByValue) {
  const std::vector<Value> ascending = {
      Value::null(),         Value::integer(-20),   Value::real(-1.5),
      Value::integer(3),     Value::real(3.25),     Value::integer(12),
      Value::text("100 kB"), Value::text("900 MB"), Value::text("a")};
  for (size_t i = 0; i < ascending.size(); ++i)
    for (size_t j = 0; j < ascending.size(); ++j)
      EXPECT_EQ(compareValues(ascending[i], ascending[j]) < 0, i < j)
          << ascending[i].debugString() << ' ' << ascending[j].debugString();
  EXPECT_EQ(compareValues(Value(), Value::null()), 0);
}

std::vector<std::string> names(std::vector<ManagementObject> objects) {
  std::vector<std::string> out;
  for (const auto& o : objects) out.push_back(o.at(0).asText());
  return out;
}

TEST(RowOrder, KeysInTurnStableForTiesAndLimitedWhileAdding) {
  auto schema = std::make_shared<const ClassSchema>(
      "C", "Name", std::vector<std::string>{"Name", "Size", "State"});
  auto row = [&](const char* name, Value size, const char* state) {
    ManagementObject o(schema);
    o.setAt(0, Value::text(name));
    o.setAt(1, std::move(size));
    o.setAt(2, Value::text(state));
    return o;
  };
  const std::vector<ManagementObject> rows = {
      row("a", Value::integer(5), "Running"),  row("b", Value::text("700"), "Stopped"),
      row("c", Value::integer(40), "running"), row("d", Value::null(), "Running"),
      row("e", Value::integer(40), "Stopped"), row("f", Value::integer(9), "Running")};
  struct Case {
    std::vector<SortKey> keys;
    std::optional<size_t> limit;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{{"size", true}}, std::nullopt, {"b", "c", "e", "f", "a", "d"}},
      {{{"Size", false}}, std::nullopt, {"d", "a", "f", "c", "e", "b"}},
      {{{"State", false}, {"Size", true}}, std::nullopt, {"c", "f", "a", "d", "b", "e"}},
      {{{"State", false}}, 3, {"a", "c", "d"}},
      {{{"Size", true}}, 1, {"b"}},
      {{{"Size", true}}, 2, {"b", "c"}},
      {{{"Missing", false}}, 4, {"a", "b", "c", "d"}},
  };
  for (const auto& c : cases) {
    RowOrder order(c.keys, c.limit);
    for (const auto& r : rows) order.add(r);
    EXPECT_EQ(names(order.take()), c.expected) << c.keys.front().property;
  }
}

}  // namespace
}  // namespace kestrava::query
