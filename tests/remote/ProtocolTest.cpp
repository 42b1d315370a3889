#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "remote/FrameDecoder.h"
#include "remote/MessageCodec.h"
#include "remote/ProtocolError.h"
#include "remote/SchemaCache.h"
#include "remote/SchemaTable.h"
#include "remote/ValueCodec.h"

namespace kestrava::remote {
namespace {

std::string spelled(const Value& v) {
  std::string out;
  appendValue(out, v);
  return out;
}

Value readOne(std::string_view bytes) {
  ValueReader reader(bytes);
  Value v = reader.read();
  if (!reader.atEnd()) throw ProtocolError("trailing bytes");
  return v;
}

// Each kind has exactly one spelling, and it reads back as the same kind and value.
struct Spelling {
  const char* name;
  Value value;
  std::string bytes;
};
void PrintTo(const Spelling& c, std::ostream* os) {
  *os << c.name;
}

class ValueSpelling : public ::testing::TestWithParam<Spelling> {};

TEST_P(ValueSpelling, RoundTripsKindAndValue) {
  const auto& c = GetParam();
  EXPECT_EQ(spelled(c.value), c.bytes);
  Value back = readOne(c.bytes);
  EXPECT_EQ(back.kind(), c.value.kind());
  EXPECT_EQ(back, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, ValueSpelling,
    ::testing::Values(Spelling{"empty", Value(), "e"}, Spelling{"null", Value::null(), "n"},
                      Spelling{"true", Value::boolean(true), "t"},
                      Spelling{"false", Value::boolean(false), "f"},
                      Spelling{"zero", Value::integer(0), "i0;"},
                      Spelling{"negative", Value::integer(-42), "i-42;"},
                      Spelling{"largest", Value::integer(INT64_MAX), "i9223372036854775807;"},
                      Spelling{"smallest", Value::integer(INT64_MIN), "i-9223372036854775808;"},
                      Spelling{"text that looks like a number", Value::text("123"), "s3:123"},
                      Spelling{"empty text", Value::text(""), "s0:"},
                      Spelling{"text with every separator",
                               Value::text(std::string("a;b:c\nd\0e", 9)),
                               std::string("s9:a;b:c\nd\0e", 12)},
                      Spelling{"real", Value::real(2.5), "r4004000000000000;"},
                      Spelling{"empty array", Value::array({}), "a0:"},
                      Spelling{"mixed array",
                               Value::array({Value::text("007"), Value::integer(7), Value::null(),
                                             Value::array({Value::boolean(false)})}),
                               "a4:s3:007i7;na1:f"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(ValueSpelling, TextKeepsEveryByteAndNeverBecomesANumber) {
  std::string bytes = "s3:123";
  EXPECT_EQ(readOne(bytes).kind(), Value::Kind::Text);
  std::string binary("\xff\xfe\0caf\xc3\xa9", 8);
  EXPECT_EQ(readOne(spelled(Value::text(binary))).asText(), binary);
}

TEST(ValueSpelling, RealsKeepTheirExactBits) {
  for (double d : {0.1, -0.0, 1e-310, std::numeric_limits<double>::max(),
                   std::numeric_limits<double>::infinity(), std::nan("0x5")}) {
    double back = readOne(spelled(Value::real(d))).asReal();
    EXPECT_EQ(std::bit_cast<uint64_t>(back), std::bit_cast<uint64_t>(d)) << d;
  }
}

// Anything that is not the one canonical spelling is refused with a description, never read as
// some other value.
struct Malformed {
  const char* name;
  std::string bytes;
  const char* says;
};
void PrintTo(const Malformed& c, std::ostream* os) {
  *os << c.name;
}

std::string nested(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += "a1:";
  return s + "e";
}

class MalformedValue : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedValue, IsRefusedWithAClearDescription) {
  const auto& c = GetParam();
  try {
    readOne(c.bytes);
    FAIL() << c.name << " was accepted";
  } catch (const ProtocolError& e) {
    EXPECT_NE(e.description().find(c.says), std::string::npos) << c.name << ": " << e.description();
    EXPECT_EQ(e.number(), err::kWbemTransportFailure);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Refused, MalformedValue,
    ::testing::Values(Malformed{"unknown kind", "x", "unknown value kind 'x'"},
                      Malformed{"unknown kind, control byte", std::string("\x01", 1), "byte 0x01"},
                      Malformed{"nothing", "", "missing"},
                      Malformed{"integer with leading zero", "i007;", "canonical"},
                      Malformed{"integer plus sign", "i+7;", "not a digit"},
                      Malformed{"negative zero", "i-0;", "canonical"},
                      Malformed{"integer overflow", "i9223372036854775808;", "out of range"},
                      Malformed{"integer unterminated", "i12", "not closed"},
                      Malformed{"integer with letters", "i1x;", "not a digit"},
                      Malformed{"text longer than message", "s10:abc", "past the end"},
                      Malformed{"text length leading zero", "s03:abc", "leading zero"},
                      Malformed{"text length not a number", "sx:abc", "not a digit"},
                      Malformed{"text length missing", "s:abc", "missing"},
                      Malformed{"real too short", "r40;", "past the end"},
                      Malformed{"real bad digit", "r400400000000000G;", "hexadecimal"},
                      Malformed{"real unterminated", "r4004000000000000x", "not closed"},
                      Malformed{"array claims too many", "a99:e", "more items"},
                      Malformed{"array item cut short", "a2:s1:", "past the end"},
                      Malformed{"array nested too deep", nested(17), "nested too deeply"},
                      Malformed{"trailing bytes", "ee", "trailing"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(MalformedValue, UpperCaseHexIsNotARealSpelling) {
  EXPECT_THROW(readOne("r400400000000000A;"), ProtocolError);
}

TEST(MalformedValue, NestingUpToTheLimitIsFine) {
  EXPECT_NO_THROW(readOne(nested(16)));
}

TEST(MalformedValue, TooManyValuesInOneMessageAreRefused) {
  std::string bytes = "a300000:" + std::string(300000, 'e');
  EXPECT_THROW(readOne(bytes), ProtocolError);
}

// ---- messages ----

TEST(MessageTranscript, RequestsAndRepliesAreSpelledAsDocumented) {
  struct Case {
    Message message;
    std::string payload;
  };
  const Case cases[] = {
      {{Verb::Hello, 0, {Value::integer(1), Value::text("kestrava"), Value::text("0.1.0")}},
       "hello 0\ni1;s8:kestravas5:0.1.0"},
      {{Verb::Query, 7, {Value::text("Select * From Win32_Process")}},
       "query 7\ns27:Select * From Win32_Process"},
      {{Verb::Call, 9, {Value::text("Win32_Service='a'"), Value::text("StopService")}},
       "call 9\ns17:Win32_Service='a's11:StopService"},
      {{Verb::Cancel, 12, {Value::integer(4)}}, "cancel 12\ni4;"},
      {{Verb::End, 7, {}}, "end 7\n"},
      {{Verb::Result, 9, {Value::integer(0)}}, "result 9\ni0;"},
      {{Verb::Error,
        3,
        {Value::integer(-2147217392), Value::text("Invalid class "),
         Value::text("SWbemServicesEx")}},
       "error 3\ni-2147217392;s14:Invalid class s15:SWbemServicesEx"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(encodePayload(c.message), c.payload);
    EXPECT_EQ(decodePayload(c.payload), c.message) << c.payload;
  }
  EXPECT_EQ(frame("end 7\n"), "6\nend 7\n");
}

TEST(MessageTranscript, MalformedMessagesAreRefused) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "no header line"},
      {"end 7", "no header line"},
      {"end\n", "no id"},
      {"finish 7\n", "unknown message kind 'finish'"},
      {"END 7\n", "unknown message kind"},
      {"end 07\n", "canonical"},
      {"end -1\n", "not a decimal number"},
      {"end 18446744073709551616\n", "in range"},
      {"end 7\ne", "more than its 0 values"},
      {"query 7\n", "fewer than its 1 values"},
      {"query 7\ni5;", "value 1 of a query message is integer"},
      {"error 1\ni4294967296;s0:s0:", "error number is out of range"},
      {"object 1\ni1;s0:", "value 2 of a object message is text"},
  };
  for (const auto& [payload, says] : cases) {
    try {
      decodePayload(payload);
      ADD_FAILURE() << "accepted: " << payload;
    } catch (const ProtocolError& e) {
      EXPECT_NE(e.description().find(says), std::string::npos)
          << payload << ": " << e.description();
    }
  }
}

// ---- frames ----

std::vector<std::string> framesOf(FrameDecoder& d, std::string_view bytes) {
  d.feed(bytes);
  std::vector<std::string> out;
  while (auto p = d.next()) out.push_back(*p);
  return out;
}

TEST(FrameTranscript, FramesArriveWholeWhateverTheReadBoundaries) {
  std::string stream = frame("end 1\n") + frame("ok 2\n") + frame("result 3\ns3:123");
  for (size_t chunk = 1; chunk <= stream.size(); ++chunk) {
    FrameDecoder d;
    std::vector<std::string> got;
    for (size_t at = 0; at < stream.size(); at += chunk)
      for (auto& p : framesOf(d, std::string_view(stream).substr(at, chunk))) got.push_back(p);
    ASSERT_EQ(got.size(), 3u) << "chunk " << chunk;
    EXPECT_EQ(got[2], "result 3\ns3:123");
    EXPECT_FALSE(d.midFrame());
  }
}

TEST(FrameTranscript, AnIncompleteFrameIsHeldAndReportedAsMidFrame) {
  FrameDecoder d;
  EXPECT_TRUE(framesOf(d, "10\nend").empty());
  EXPECT_TRUE(d.midFrame());
}

TEST(FrameTranscript, BadFramesAreRefusedAtTheirFirstWrongByte) {
  const std::pair<std::string, const char*> cases[] = {
      {"Welcome to host\n", "not a message length"},
      {"12a", "not a message length"},
      {"-5\n", "not a message length"},
      {" 5\n", "not a message length"},
      {"0\n", "missing or zero"},
      {"\n", "missing or zero"},
      {"05\nend 1", "leading zero"},
      {"9000000\n", "longer than the limit"},
  };
  for (const auto& [bytes, says] : cases) {
    FrameDecoder d(1024 * 1024);
    try {
      framesOf(d, bytes);
      ADD_FAILURE() << "accepted: " << bytes;
    } catch (const ProtocolError& e) {
      EXPECT_NE(e.description().find(says), std::string::npos) << bytes << ": " << e.description();
    }
    // A failed stream stays failed: nothing after garbage is trusted.
    EXPECT_THROW(framesOf(d, frame("end 1\n")), ProtocolError);
  }
}

TEST(FrameTranscript, ALengthLineIsCappedEvenWithoutALimit) {
  FrameDecoder d(SIZE_MAX);
  EXPECT_TRUE(framesOf(d, "12345678").empty());
  try {
    framesOf(d, "90");
    FAIL() << "a ten-byte length line was accepted";
  } catch (const ProtocolError& e) {
    EXPECT_NE(e.description().find("longer than allowed"), std::string::npos);
  }
}

TEST(FrameTranscript, TheLimitIsExactlyTheLimit) {
  FrameDecoder d(16);
  std::string payload(16, 'x');
  EXPECT_EQ(framesOf(d, frame(payload)).at(0), payload);
  EXPECT_THROW(framesOf(d, "17\n"), ProtocolError);
}

TEST(FrameTranscript, FirstBytesAreKeptToShowWhatAGarbagePeerSaid) {
  FrameDecoder d;
  EXPECT_THROW(framesOf(d, "bash: motd\n"), ProtocolError);
  EXPECT_EQ(d.firstBytes(), "bash: motd\n");
}

// ---- class shapes ----

TEST(SchemaNumbers, ObjectsOfOneClassShareOneSchemaAcrossTheWire) {
  auto schema = std::make_shared<const ClassSchema>(
      "Win32_Service", "Name", std::vector<std::string>{"Name", "State", "ProcessId"},
      std::vector<PropertyType>{PropertyType::Other, PropertyType::Other, PropertyType::Integer64});
  SchemaCache cache;
  SchemaTable table;
  std::string frames;
  auto number = cache.number(schema, frames);
  EXPECT_EQ(number, 1);
  EXPECT_EQ(
      frames,
      frame("schema 0\ni1;s13:Win32_Services4:Namea3:s4:Names5:States9:ProcessIda3:i0;i0;i1;"));
  std::string again;
  EXPECT_EQ(cache.number(schema, again), 1);
  EXPECT_TRUE(again.empty());

  FrameDecoder d;
  table.define(decodePayload(framesOf(d, frames).at(0)));
  auto a =
      table.object(Value::integer(1),
                   Value::array({Value::text("ssh"), Value::text("Running"), Value::integer(412)}));
  auto b =
      table.object(Value::integer(1), Value::array({Value::text("cron"), Value::null(), Value()}));
  EXPECT_EQ(a.schema(), b.schema());
  EXPECT_EQ(a.schema()->typeOf(2), PropertyType::Integer64) << "a 64-bit count stays one";
  EXPECT_EQ(a.get("state").asText(), "Running");
  EXPECT_EQ(a.path(), "Win32_Service='ssh'");
  EXPECT_TRUE(b.get("ProcessId").isEmpty());
  EXPECT_TRUE(table.object(Value::integer(0), Value::array({})).values().empty());
}

TEST(SchemaNumbers, ObjectsThatDoNotFitTheirSchemaAreRefused) {
  SchemaTable table;
  table.define(decodePayload("schema 0\ni2;s1:Cs1:Ka1:s1:Ka0:"));
  EXPECT_THROW(table.object(Value::integer(3), Value::array({Value::text("x")})), ProtocolError);
  EXPECT_THROW(table.object(Value::integer(2), Value::array({})), ProtocolError);
  EXPECT_THROW(table.object(Value::integer(0), Value::array({Value::null()})), ProtocolError);
  for (const char* bad :
       {"schema 0\ni0;s1:Cs1:Ka1:s1:Ka0:", "schema 0\ni1;s1:Cs1:Ka2:s1:Ks1:ka0:",
        "schema 0\ni1;s1:Cs1:Xa1:s1:Ka0:", "schema 0\ni1;s1:Cs1:Ka1:i1;a0:",
        "schema 0\ni1;s1:Cs1:Ka1:s1:Ka1:i9;", "schema 0\ni1;s1:Cs1:Ka1:s1:Ka2:i0;i1;",
        "schema 0\ni1;s1:Cs1:Ka1:s1:Ka1:s1:1"})
    EXPECT_THROW(table.define(decodePayload(bad)), ProtocolError) << bad;
}

TEST(SchemaNumbers, ACacheThatIsFullStartsNumberingAfresh) {
  SchemaCache cache(2);
  std::vector<SchemaPtr> schemas;
  for (int i = 0; i < 3; ++i)
    schemas.push_back(std::make_shared<const ClassSchema>("C" + std::to_string(i), "",
                                                          std::vector<std::string>{"P"}));
  std::string frames;
  EXPECT_EQ(cache.number(schemas[0], frames), 1);
  EXPECT_EQ(cache.number(schemas[1], frames), 2);
  EXPECT_EQ(cache.number(schemas[2], frames), 1);
  frames.clear();
  EXPECT_EQ(cache.number(schemas[0], frames), 2);
  EXPECT_FALSE(frames.empty()) << "a forgotten schema is declared again";
}

}  // namespace
}  // namespace kestrava::remote
