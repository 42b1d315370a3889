#include "query/ObjectWriter.h"

#include "core/ClassSchema.h"
#include "query/CellText.h"
#include "query/CsvWriter.h"
#include "query/Json.h"
#include "query/JsonWriter.h"
#include "query/TableWriter.h"

namespace kestrava::query {

std::optional<OutputFormat> parseOutputFormat(std::string_view name) {
  if (equalsIgnoreCase(name, "table")) return OutputFormat::Table;
  if (equalsIgnoreCase(name, "csv")) return OutputFormat::Csv;
  if (equalsIgnoreCase(name, "json")) return OutputFormat::Json;
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
    case OutputFormat::Table:
      break;
  }
  return std::make_unique<TableWriter>(out);
}

void writeSingleObject(OutputFormat format, const ManagementObject& object, std::ostream& out) {
  if (format == OutputFormat::Json) {
    out << jsonLine(jsonObject(object)) << '\n';
  } else if (format == OutputFormat::Csv) {
    CsvWriter writer(out);
    writer.write(object);
    writer.finish();
  } else if (const auto& schema = object.schema()) {
    std::vector<std::vector<std::string>> rows{{"Property", "Value"}};
    for (size_t i = 0; i < schema->size(); ++i)
      rows.push_back({terminalText(schema->properties()[i]), cellTextNullAsBlank(object.at(i))});
    TableWriter::layOut(rows, {false, false}, out);
  }
  out.flush();
}

void writeReturnValue(OutputFormat format, const Value& value, std::ostream& out) {
  std::string text;
  if (format == OutputFormat::Json)
    text = jsonLine(jsonValue(value));
  else if (value.isNull())
    text = "null";
  else
    text = cellTextNullAsBlank(value);
  out << text << '\n';
  out.flush();
}

}  // namespace kestrava::query
