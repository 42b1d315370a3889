#include <gtest/gtest.h>

#include <QLocale>
#include <limits>

#include "platform/ValueText.h"

namespace kestrava {
namespace {

TEST(ValueTextTest, ValuesBecomeCellTextOrFail) {
  struct Case {
    const char* what;
    Value value;
    std::string text;  // expected when it converts
    int failure;       // expected error number when it does not, else 0
  };
  const std::vector<Case> cases = {
      {"text unchanged", Value::text(" 20240101120000.000000+060 "), " 20240101120000.000000+060 ",
       0},
      {"empty text", Value::text(""), "", 0},
      {"integer", Value::integer(4096), "4096", 0},
      {"negative integer", Value::integer(-120), "-120", 0},
      {"smallest integer", Value::integer(std::numeric_limits<int64_t>::min()),
       "-9223372036854775808", 0},
      {"no digit grouping", Value::integer(1234567), "1234567", 0},
      {"true", Value::boolean(true), "True", 0},
      {"false", Value::boolean(false), "False", 0},
      {"empty", Value(), "", 0},
      {"null", Value::null(), "", 94},
      {"array", Value::array({Value::integer(1), Value::integer(2)}), "", 13},
      {"empty array", Value::array({}), "", 13},
  };
  for (const auto& c : cases) {
    std::string out = "untouched";
    auto failure = cellTextRefusingNull(c.value, out);
    if (c.failure) {
      ASSERT_TRUE(failure.has_value()) << c.what;
      EXPECT_EQ(failure->number(), c.failure) << c.what;
      EXPECT_EQ(out, "untouched") << c.what << ": a failed conversion writes nothing";
    } else {
      EXPECT_FALSE(failure.has_value()) << c.what;
      EXPECT_EQ(out, c.text) << c.what;
    }
  }
}

TEST(ValueTextTest, RealUsesTheUsersDecimalSeparator) {
  const QLocale saved;
  struct Case {
    QLocale locale;
    double value;
    const char* text;
  };
  const std::vector<Case> cases = {
      {QLocale::c(), 2.5, "2.5"},
      {QLocale(QLocale::German, QLocale::Germany), 2.5, "2,5"},
      {QLocale(QLocale::German, QLocale::Germany), -0.25, "-0,25"},
      {QLocale(QLocale::English, QLocale::UnitedStates), 1234.75, "1234.75"},
  };
  for (const auto& c : cases) {
    QLocale::setDefault(c.locale);
    std::string out;
    EXPECT_FALSE(cellTextRefusingNull(Value::real(c.value), out).has_value());
    EXPECT_EQ(out, c.text) << c.locale.name().toStdString();
  }
  QLocale::setDefault(saved);
}

}  // namespace
}  // namespace kestrava
