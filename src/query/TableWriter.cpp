#include "query/TableWriter.h"

#include <algorithm>

#include "query/CellText.h"

namespace kestrava::query {

namespace {
bool isNumber(const Value& v) {
  return v.kind() == Value::Kind::Integer || v.kind() == Value::Kind::Real;
}
}  // namespace

void TableWriter::write(const ManagementObject& object) {
  if (!object.schema()) return;
  if (!schema_) {
    schema_ = object.schema();
    writeHeader(*schema_);
  }
  std::vector<std::string> row(schema_->size());
  for (size_t i = 0; i < schema_->size(); ++i) {
    const Value& v = valueIn(object, schema_, i);
    row[i] = cellTextNullAsBlank(v);
    if (!isNumber(v) && !v.isNull() && !v.isEmpty()) numeric_[i] = false;
  }
  rows_.push_back(std::move(row));
}

void TableWriter::writeHeader(const ClassSchema& schema) {
  std::vector<std::string> header;
  for (const auto& name : schema.properties()) header.push_back(terminalText(name));
  rows_.push_back(std::move(header));
  numeric_.assign(schema.size(), true);
}

void TableWriter::emptyResult(const SchemaPtr& schema) {
  if (schema_ || !schema) return;
  schema_ = schema;
  writeHeader(*schema_);
}

void TableWriter::finish() {
  if (!rows_.empty()) layOut(rows_, numeric_, out_);
  rows_.clear();
  out_.flush();
}

void TableWriter::layOut(const std::vector<std::vector<std::string>>& rows,
                         const std::vector<bool>& rightAligned, std::ostream& out) {
  if (rows.empty()) return;
  const size_t columns = rows.front().size();
  std::vector<size_t> widths(columns, 0);
  for (const auto& row : rows)
    for (size_t i = 0; i < columns && i < row.size(); ++i)
      widths[i] = std::max(widths[i], displayWidth(row[i]));

  auto writeRow = [&](const std::vector<std::string>& row, bool header) {
    std::string line;
    for (size_t i = 0; i < columns; ++i) {
      const std::string& cell = i < row.size() ? row[i] : std::string();
      const std::string pad(widths[i] - displayWidth(cell), ' ');
      if (i) line += "  ";
      const bool right = !header && i < rightAligned.size() && rightAligned[i];
      line += right ? pad + cell : cell + pad;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  writeRow(rows.front(), true);
  std::vector<std::string> rule(columns);
  for (size_t i = 0; i < columns; ++i) rule[i] = std::string(widths[i], '-');
  writeRow(rule, true);
  for (size_t r = 1; r < rows.size(); ++r) writeRow(rows[r], false);
}

}  // namespace kestrava::query
