#include <gtest/gtest.h>

#include "core/ComError.h"
#include "core/ManagementObject.h"
#include "core/Value.h"

namespace kestrava {
namespace {

struct TextCase {
  const char* name;
  Value value;
  const char* separator;
  const char* expected;
};

class ValueToText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ValueToText, ConvertsAsTheStandardVariantConversion) {
  const auto& c = GetParam();
  EXPECT_EQ(c.value.toText(c.separator), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rule, ValueToText,
    ::testing::Values(
        TextCase{"text unchanged", Value::text("20261209114551.000000+060"), ".",
                 "20261209114551.000000+060"},
        TextCase{"text that looks like a number stays text", Value::text("007"), ".", "007"},
        TextCase{"empty", Value(), ".", ""}, TextCase{"zero", Value::integer(0), ".", "0"},
        TextCase{"negative", Value::integer(-42), ".", "-42"},
        TextCase{"beyond 32 bits", Value::integer(9007199254740993LL), ".", "9007199254740993"},
        TextCase{"smallest", Value::integer(INT64_MIN), ".", "-9223372036854775808"},
        TextCase{"true", Value::boolean(true), ".", "True"},
        TextCase{"false", Value::boolean(false), ".", "False"},
        TextCase{"real", Value::real(2.5), ".", "2.5"},
        TextCase{"real, user's separator", Value::real(-0.125), ",", "-0,125"},
        TextCase{"real, whole", Value::real(3.0), ",", "3"},
        TextCase{"real, shortest round trip", Value::real(0.1), ".", "0.1"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ValueToTextFailures, NullAndArrayFailAsTypeErrors) {
  try {
    (void)Value::null().toText();
    FAIL() << "null converted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), 94);
    EXPECT_EQ(e.description(), "Invalid use of Null");
  }
  try {
    (void)Value::array({Value::integer(1)}).toText();
    FAIL() << "array converted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), 13);
    EXPECT_EQ(e.description(), "Type mismatch");
  }
}

TEST(ValueEquality, KindsAreNeverConfused) {
  EXPECT_NE(Value::text("1"), Value::integer(1));
  EXPECT_NE(Value::integer(1), Value::boolean(true));
  EXPECT_NE(Value::null(), Value());
  EXPECT_EQ(Value::array({Value::text("a"), Value::null()}),
            Value::array({Value::text("a"), Value::null()}));
  EXPECT_NE(Value::array({Value::text("a")}), Value::array({Value::text("b")}));
}

TEST(ManagementObjectTest, PropertiesAreFoundWithoutRegardToCase) {
  auto schema = std::make_shared<const ClassSchema>(
      "Win32_NTEventLogFile", "LogFileName", std::vector<std::string>{"LogFileName", "FileSize"});
  ManagementObject object(schema);
  object.set("logfilename", Value::text("syslog"));
  EXPECT_EQ(object.get("LOGFILENAME"), Value::text("syslog"));
  EXPECT_TRUE(object.get("FileSize").isEmpty());
  try {
    (void)object.get("NoSuchProperty");
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), 438);
  }
}

TEST(ManagementObjectTest, PathEscapesQuoteAndBackslash) {
  EXPECT_EQ(makeObjectPath("Win32_Service", "ssh.service"), "Win32_Service='ssh.service'");
  EXPECT_EQ(makeObjectPath("Win32_Service", "a'b\\c"), "Win32_Service='a\\'b\\\\c'");
}

TEST(ClassSchemaTest, RefusesDuplicateAndMissingKey) {
  EXPECT_THROW(ClassSchema("C", "A", {"A", "a"}), std::invalid_argument);
  EXPECT_THROW(ClassSchema("C", "K", {"A"}), std::invalid_argument);
}

}  // namespace
}  // namespace kestrava
