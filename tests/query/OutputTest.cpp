#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "query/CellText.h"
#include "query/CsvWriter.h"
#include "query/EventWriter.h"
#include "query/Json.h"
#include "query/ObjectWriter.h"
#include "query/QueryTool.h"

namespace kestrava::query {
namespace {

SchemaPtr schemaOf(std::vector<std::string> properties, std::string key = "") {
  return std::make_shared<const ClassSchema>("C", key.empty() ? properties.front() : key,
                                             std::move(properties));
}

ManagementObject objectOf(const SchemaPtr& schema, std::vector<Value> values) {
  ManagementObject o(schema);
  for (size_t i = 0; i < values.size(); ++i) o.setAt(i, std::move(values[i]));
  return o;
}

std::string written(OutputFormat format, const std::vector<ManagementObject>& objects) {
  std::ostringstream out;
  auto writer = makeObjectWriter(format, out);
  for (const auto& o : objects) writer->write(o);
  writer->finish();
  return out.str();
}

TEST(CsvField, QuotesAsRfc4180) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"", ""},
      {" spaced ", " spaced "},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"\"", "\"\"\"\""},
      {"line\nbreak", "\"line\nbreak\""},
      {"cr\r", "\"cr\r\""},
      {"semi;colon", "semi;colon"},
  };
  for (const auto& c : cases) EXPECT_EQ(CsvWriter::field(c.text), c.expected) << c.text;
}

TEST(CsvWriter, HeaderThenOneRowPerObjectWithEveryKind) {
  auto schema = schemaOf({"Name", "Pid", "Flag", "Load", "Missing", "Tags"});
  std::string out = written(
      OutputFormat::Csv,
      {objectOf(schema,
                {Value::text("a,\"b\""), Value::integer(-7), Value::boolean(true), Value::real(2.5),
                 Value::null(), Value::array({Value::text("x"), Value::null()})}),
       objectOf(schema, {Value::text("bad \xFF byte"), Value::integer(0), Value::boolean(false),
                         Value::real(0.1), Value(), Value::array({})})});
  EXPECT_EQ(out,
            "Name,Pid,Flag,Load,Missing,Tags\n"
            "\"a,\"\"b\"\"\",-7,True,2.5,,\"{x, <null>}\"\n"
            "bad \xEF\xBF\xBD byte,0,False,0.1,,{}\n");
  EXPECT_EQ(written(OutputFormat::Csv, {}), "");
}

TEST(Json, ValuesKeepTheirKinds) {
  struct Case {
    Value value;
    const char* expected;
  };
  const Case cases[] = {
      {Value::text("plain"), "\"plain\""},
      {Value::text("q\"b\\n\nt\tc\x01\x7f"), "\"q\\\"b\\\\n\\nt\\tc\\u0001\x7f\""},
      {Value::text("\xC3\xA4\xE2\x82\xAC"), "\"\xC3\xA4\xE2\x82\xAC\""},
      // One U+FFFD for each byte that starts no valid sequence, as in tables and CSV.
      {Value::text("bad\xFF\xC3"), "\"bad\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {Value::text("\xE2\x82x"), "\"\xEF\xBF\xBD\xEF\xBF\xBDx\""},
      {Value::text(std::string("nul\0in", 6)), "\"nul\\u0000in\""},
      {Value::integer(INT64_MIN), "-9223372036854775808"},
      {Value::integer(42), "42"},
      {Value::real(2.5), "2.5"},
      {Value::real(-0.125), "-0.125"},
      {Value::real(std::numeric_limits<double>::quiet_NaN()), "null"},
      {Value::real(std::numeric_limits<double>::infinity()), "null"},
      {Value::boolean(true), "true"},
      {Value::boolean(false), "false"},
      {Value::null(), "null"},
      {Value(), "null"},
      {Value::array({}), "[]"},
      {Value::array({Value::integer(1), Value::text("x"), Value::null(),
                     Value::array({Value::boolean(false)})}),
       "[1,\"x\",null,[false]]"},
  };
  for (const auto& c : cases) {
    const std::string out = jsonLine(jsonValue(c.value));
    EXPECT_EQ(out, c.expected) << c.value.debugString();
    EXPECT_TRUE(Json::accept(out)) << out;
  }
}

TEST(JsonWriter, ArrayOfObjectsOnePerLine) {
  auto schema = schemaOf({"Name", "Pid"});
  EXPECT_EQ(written(OutputFormat::Json, {}), "[]\n");
  EXPECT_EQ(written(OutputFormat::Json, {objectOf(schema, {Value::text("a"), Value::integer(1)}),
                                         objectOf(schema, {Value::text("b"), Value::null()})}),
            "[\n{\"Name\":\"a\",\"Pid\":1},\n{\"Name\":\"b\",\"Pid\":null}\n]\n");
  // Property names are escaped too.
  auto odd = schemaOf({"Na\"me"});
  EXPECT_EQ(written(OutputFormat::Json, {objectOf(odd, {Value::integer(1)})}),
            "[\n{\"Na\\\"me\":1}\n]\n");
}

TEST(JsonWriter, SixtyFourBitCountsAreNumbersAndOtherTextStaysText) {
  using T = PropertyType;
  auto schema = std::make_shared<const ClassSchema>(
      "C", "Handle", std::vector<std::string>{"Handle", "Size", "Odd", "Unread"},
      std::vector<T>{T::Other, T::Integer64, T::Integer64, T::Integer64});
  // Above 2^53 a JavaScript reader rounds; the number is still written exactly.
  EXPECT_EQ(
      written(OutputFormat::Json,
              {objectOf(schema, {Value::text("42"), Value::text("18446744073709551615"),
                                 Value::text("12 kB"), Value::null()}),
               objectOf(schema, {Value::text("7"), Value::text("-5"), Value::text(""), Value()})}),
      "[\n{\"Handle\":\"42\",\"Size\":18446744073709551615,\"Odd\":\"12 kB\","
      "\"Unread\":null},\n{\"Handle\":\"7\",\"Size\":-5,\"Odd\":\"\",\"Unread\":null}\n]\n");
}

TEST(TableWriter, AlignsByDisplayWidthAndRightAlignsNumbers) {
  auto schema = schemaOf({"Name", "Pid", "State"});
  std::string out = written(
      OutputFormat::Table,
      {objectOf(schema, {Value::text("\xC3\x84rger"), Value::integer(1), Value::text("Running")}),
       objectOf(schema,
                {Value::text("\xE6\x97\xA5\xE6\x9C\xAC"), Value::integer(22), Value::text("x")}),
       objectOf(schema, {Value::text("a"), Value::null(), Value::text("")}),
       objectOf(schema, {Value::text("e\xCC\x81"), Value::integer(333), Value::null()})});
  EXPECT_EQ(out,
            "Name   Pid  State\n"
            "-----  ---  -------\n"
            "\xC3\x84rger    1  Running\n"
            "\xE6\x97\xA5\xE6\x9C\xAC    22  x\n"
            "a\n"
            "e\xCC\x81      333\n");
}

TEST(TableWriter, OneLinePerObjectWhateverTheText) {
  auto schema = schemaOf({"Name", "Text"});
  std::string out =
      written(OutputFormat::Table,
              {objectOf(schema, {Value::text("new\nline"), Value::text("tab\there\x1b[31m\xFF")})});
  EXPECT_EQ(out,
            "Name       Text\n"
            "---------  ------------------\n"
            "new\\nline  tab\\there\\x1B[31m\xEF\xBF\xBD\n");
  EXPECT_EQ(written(OutputFormat::Table, {}), "");
}

TEST(CellText, DisplayWidth) {
  struct Case {
    const char* text;
    size_t width;
  };
  const Case cases[] = {{"", 0},
                        {"abc", 3},
                        {"\xC3\x84rger", 5},
                        {"\xE6\x97\xA5\xE6\x9C\xAC", 4},
                        {"e\xCC\x81", 1},
                        {"\xF0\x9F\x98\x80", 2},
                        {"\xFF", 1}};
  for (const auto& c : cases) EXPECT_EQ(displayWidth(c.text), c.width) << c.text;
}

TEST(SingleObject, SheetCsvAndJson) {
  auto schema = schemaOf({"Name", "Pid"});
  auto object = objectOf(schema, {Value::text("ssh"), Value::integer(7)});
  std::ostringstream table, csv, json;
  writeSingleObject(OutputFormat::Table, object, table);
  writeSingleObject(OutputFormat::Csv, object, csv);
  writeSingleObject(OutputFormat::Json, object, json);
  EXPECT_EQ(table.str(),
            "Property  Value\n"
            "--------  -----\n"
            "Name      ssh\n"
            "Pid       7\n");
  EXPECT_EQ(csv.str(), "Name,Pid\nssh,7\n");
  EXPECT_EQ(json.str(), "{\"Name\":\"ssh\",\"Pid\":7}\n");
}

TEST(ReturnValue, NumberWithTheMeaningOfItsClassTable) {
  struct Case {
    OutputFormat format;
    const char* path;
    Value value;
    const char* expected;
  };
  const char* service = "Win32_Service='cron.service'";
  const Case cases[] = {
      {OutputFormat::Table, service, Value::integer(0), "0 Success\n"},
      {OutputFormat::Table, "win32_service.Name=\"x\"", Value::integer(2), "2 Access denied\n"},
      {OutputFormat::Table, service, Value::integer(6), "6 Service not active\n"},
      {OutputFormat::Table, service, Value::integer(10), "10 Service already running\n"},
      // A code, or a class, without a table keeps its bare number.
      {OutputFormat::Table, service, Value::integer(99), "99\n"},
      {OutputFormat::Table, "Win32_Process='1'", Value::integer(2), "2\n"},
      {OutputFormat::Table, service, Value::null(), "null\n"},
      {OutputFormat::Csv, service, Value::integer(10),
       "ReturnValue,Meaning\n10,Service already running\n"},
      {OutputFormat::Json, service, Value::integer(6),
       "{\"ReturnValue\":6,\"Meaning\":\"Service not active\"}\n"},
      {OutputFormat::Json, service, Value::integer(99), "{\"ReturnValue\":99,\"Meaning\":null}\n"},
      {OutputFormat::List, service, Value::integer(2),
       "ReturnValue: 2\nMeaning:     Access denied\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    writeReturnValue(c.format, methodResult(c.path, c.value), out);
    EXPECT_EQ(out.str(), c.expected) << c.path << ' ' << c.value.debugString();
  }
}

TEST(ListWriter, OnePropertyALineAndABlankLineBetweenObjects) {
  auto schema = schemaOf({"Name", "ProcessId", "CommandLine"});
  EXPECT_EQ(written(OutputFormat::List,
                    {objectOf(schema, {Value::text("cron"), Value::integer(7), Value::null()}),
                     objectOf(schema, {Value::text("evil\x1b]0;x\a"), Value::integer(12),
                                       Value::text("a\nb")})}),
            "Name:        cron\n"
            "ProcessId:   7\n"
            "CommandLine:\n"
            "\n"
            "Name:        evil\\x1B]0;x\\x07\n"
            "ProcessId:   12\n"
            "CommandLine: a\\nb\n");
  EXPECT_EQ(written(OutputFormat::List, {}), "");
}

TEST(ObjectWriter, AnEmptyResultShowsItsHeaderInTableAndCsv) {
  auto schema = schemaOf({"Name", "State"});
  struct Case {
    OutputFormat format;
    const char* expected;
  };
  const Case cases[] = {{OutputFormat::Table, "Name  State\n----  -----\n"},
                        {OutputFormat::Csv, "Name,State\n"},
                        {OutputFormat::Json, "[]\n"},
                        {OutputFormat::List, ""}};
  for (const auto& c : cases) {
    std::ostringstream out;
    auto writer = makeObjectWriter(c.format, out);
    writer->emptyResult(schema);
    writer->emptyResult(schema);
    writer->finish();
    EXPECT_EQ(out.str(), c.expected);
  }
  // Objects that came first keep their own header.
  std::ostringstream out;
  auto writer = makeObjectWriter(OutputFormat::Csv, out);
  writer->write(objectOf(schemaOf({"Other"}), {Value::text("x")}));
  writer->emptyResult(schema);
  writer->finish();
  EXPECT_EQ(out.str(), "Other\nx\n");
}

EventObject serviceEvent(const std::string& name, const char* before, const char* now) {
  auto schema = std::make_shared<const ClassSchema>(
      "Win32_Service", "Name", std::vector<std::string>{"Name", "State", "ProcessId"});
  EventObject e{"__InstanceModificationEvent", ManagementObject(schema), ManagementObject(schema)};
  e.target.setAt(0, Value::text(name));
  e.previous.setAt(0, Value::text(name));
  e.target.setAt(1, Value::text(now));
  e.previous.setAt(1, Value::text(before));
  e.target.setAt(2, Value::null());
  e.previous.setAt(2, Value::integer(12));
  return e;
}

TEST(EventWriter, EachFormat) {
  const auto event = serviceEvent("it's.service", "Running", "Stopped");
  std::ostringstream table, csv, json;
  EventWriter t(OutputFormat::Table, table), c(OutputFormat::Csv, csv), j(OutputFormat::Json, json);
  for (int i = 0; i < 2; ++i) {
    t.write(event, "T");
    c.write(event, "T");
    j.write(event, "T");
  }
  // An instance that comes or goes is one line, whatever its properties.
  EventObject created{"__InstanceCreationEvent", event.target, ManagementObject()};
  EventObject deleted{"__InstanceDeletionEvent", event.previous, ManagementObject()};
  for (const auto* e : {&created, &deleted}) {
    t.write(*e, "U");
    c.write(*e, "U");
  }
  EXPECT_EQ(table.str(),
            "T  Win32_Service='it\\'s.service'  State: Running -> Stopped, ProcessId: 12 -> null\n"
            "T  Win32_Service='it\\'s.service'  State: Running -> Stopped, ProcessId: 12 -> null\n"
            "U  Win32_Service='it\\'s.service'  created\n"
            "U  Win32_Service='it\\'s.service'  deleted\n");
  EXPECT_EQ(csv.str(),
            "Time,Path,Property,Previous,Current,Event\n"
            "T,Win32_Service='it\\'s.service',State,Running,Stopped,modified\n"
            "T,Win32_Service='it\\'s.service',ProcessId,12,,modified\n"
            "T,Win32_Service='it\\'s.service',State,Running,Stopped,modified\n"
            "T,Win32_Service='it\\'s.service',ProcessId,12,,modified\n"
            "U,Win32_Service='it\\'s.service',,,,created\n"
            "U,Win32_Service='it\\'s.service',,,,deleted\n");
  const std::string line =
      "{\"time\":\"T\",\"event\":\"__InstanceModificationEvent\",\"path\":\"Win32_Service='it\\\\'"
      "s."
      "service'\",\"TargetInstance\":{\"Name\":\"it's.service\",\"State\":\"Stopped\","
      "\"ProcessId\":null},\"PreviousInstance\":{\"Name\":\"it's.service\",\"State\":\"Running\","
      "\"ProcessId\":12}}\n";
  EXPECT_EQ(json.str(), line + line);
}

TEST(DescribeError, DescriptionAndNumberInHexAndDecimal) {
  EXPECT_EQ(describeError(ComError(err::kWbemInvalidQuery, "Invalid query", "SWbemServicesEx")),
            "Invalid query (0x80041017, -2147217385)");
  EXPECT_EQ(describeError(ComError(91, "Object not set ")), "Object not set (0x0000005B, 91)");
  EXPECT_EQ(describeError(ComError(1, "")), "Error (0x00000001, 1)");
  EXPECT_EQ(describeError(ComError(1, "two\nlines\xFF")),
            "two\\nlines\xEF\xBF\xBD (0x00000001, 1)");
}

}  // namespace
}  // namespace kestrava::query
