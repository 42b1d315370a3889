#include "query/ObjectWriter.h"

#include "core/ClassSchema.h"
#include "core/ComError.h"
#include "query/CellText.h"
#include "query/CsvWriter.h"
#include "query/Json.h"
#include "query/JsonWriter.h"
#include "query/ListWriter.h"
#include "query/TableWriter.h"
#include "service/ObjectPath.h"
#include "service/systemd/ServiceReturnCode.h"

namespace kestrava::query {

std::optional<OutputFormat> parseOutputFormat(std::string_view name) {
  if (equalsIgnoreCase(name, "table")) return OutputFormat::Table;
  if (equalsIgnoreCase(name, "csv")) return OutputFormat::Csv;
  if (equalsIgnoreCase(name, "json")) return OutputFormat::Json;
  if (equalsIgnoreCase(name, "list")) return OutputFormat::List;
  return std::nullopt;
}

const Value& valueIn(const ManagementObject& object, const SchemaPtr& header, size_t index) {
  static const Value empty;
  if (object.schema() == header) return object.at(index);
  const auto found =
      object.schema() ? object.schema()->indexOf(header->properties()[index]) : std::nullopt;
  return found ? object.at(*found) : empty;
}

std::unique_ptr<ObjectWriter> makeObjectWriter(OutputFormat format, std::ostream& out) {
  switch (format) {
    case OutputFormat::Csv:
      return std::make_unique<CsvWriter>(out);
    case OutputFormat::Json:
      return std::make_unique<JsonWriter>(out);
    case OutputFormat::List:
      return std::make_unique<ListWriter>(out);
    case OutputFormat::Table:
      break;
  }
  return std::make_unique<TableWriter>(out);
}

void writeSingleObject(OutputFormat format, const ManagementObject& object, std::ostream& out) {
  if (format == OutputFormat::Json) {
    out << jsonLine(jsonObject(object)) << '\n';
  } else if (format != OutputFormat::Table) {
    auto writer = makeObjectWriter(format, out);
    writer->write(object);
    writer->finish();
  } else if (const auto& schema = object.schema()) {
    std::vector<std::vector<std::string>> rows{{"Property", "Value"}};
    for (size_t i = 0; i < schema->size(); ++i)
      rows.push_back({terminalText(schema->properties()[i]), cellTextNullAsBlank(object.at(i))});
    TableWriter::layOut(rows, {false, false}, out);
  }
  out.flush();
}

ManagementObject methodResult(std::string_view objectPath, Value value) {
  static const auto schema = std::make_shared<const ClassSchema>(
      "__PARAMETERS", "ReturnValue", std::vector<std::string>{"ReturnValue", "Meaning"});
  std::string_view meaning;
  if (value.kind() == Value::Kind::Integer) {
    try {
      if (equalsIgnoreCase(service::ObjectPath::parse(objectPath).className, "Win32_Service"))
        meaning = service::serviceReturn::meaning(value.asInteger());
    } catch (const ComError&) {
      // A path the service took but this side cannot read has no table here.
    }
  }
  ManagementObject object(schema);
  object.setAt(0, std::move(value));
  object.setAt(1, meaning.empty() ? Value::null() : Value::text(std::string(meaning)));
  return object;
}

void writeReturnValue(OutputFormat format, const ManagementObject& result, std::ostream& out) {
  if (format != OutputFormat::Table) return writeSingleObject(format, result, out);
  const Value& value = result.get("ReturnValue");
  std::string text = value.isNull() ? "null" : cellTextNullAsBlank(value);
  const Value& meaning = result.get("Meaning");
  if (meaning.kind() == Value::Kind::Text) text += ' ' + terminalText(meaning.asText());
  out << text << '\n';
  out.flush();
}

}  // namespace kestrava::query
