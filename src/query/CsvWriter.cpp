#include "query/CsvWriter.h"

#include "query/CellText.h"
#include "sys/Utf8.h"

namespace kestrava::query {

std::string CsvWriter::field(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

void CsvWriter::writeRow(const std::vector<std::string>& fields, std::ostream& out) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += ',';
    line += field(fields[i]);
  }
  out << line << '\n';
}

void CsvWriter::writeHeader(const ClassSchema& schema) {
  std::vector<std::string> header;
  for (const auto& name : schema.properties()) header.push_back(sys::validUtf8(name));
  writeRow(header, out_);
}

void CsvWriter::emptyResult(const SchemaPtr& schema) {
  if (schema_ || !schema) return;
  schema_ = schema;
  writeHeader(*schema_);
}

void CsvWriter::write(const ManagementObject& object) {
  if (!object.schema()) return;
  if (!schema_) {
    schema_ = object.schema();
    writeHeader(*schema_);
  }
  std::vector<std::string> fields(schema_->size());
  for (size_t i = 0; i < schema_->size(); ++i) {
    const Value& v = valueIn(object, schema_, i);
    fields[i] = plainText(v);
  }
  writeRow(fields, out_);
}

}  // namespace kestrava::query
