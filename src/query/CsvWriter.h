#pragma once

#include <string>
#include <string_view>

#include "query/ObjectWriter.h"

namespace kestrava::query {

// CSV as RFC 4180 quotes it: a header row of property names, then one row per object; a field
// holding a comma, a quote or a line break is quoted, its quotes doubled. Rows end in LF.
class CsvWriter final : public ObjectWriter {
 public:
  explicit CsvWriter(std::ostream& out) : out_(out) {}

  void write(const ManagementObject& object) override;
  void finish() override { out_.flush(); }
  void emptyResult(const SchemaPtr& schema) override;

  static std::string field(std::string_view text);
  static void writeRow(const std::vector<std::string>& fields, std::ostream& out);

 private:
  void writeHeader(const ClassSchema& schema);

  std::ostream& out_;
  SchemaPtr schema_;
};

}  // namespace kestrava::query
