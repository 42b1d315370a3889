#pragma once

#include <string>
#include <vector>

#include "query/ObjectWriter.h"

namespace kestrava::query {

// An aligned table: a header row, a rule, one row per object; columns padded to their widest
// cell as a terminal shows it; numbers right-aligned. Everything is laid out in finish().
class TableWriter final : public ObjectWriter {
 public:
  explicit TableWriter(std::ostream& out) : out_(out) {}

  void write(const ManagementObject& object) override;
  void finish() override;
  void emptyResult(const SchemaPtr& schema) override;

  // Lays out rows of cells; the first row is the header, rightAligned is per column.
  static void layOut(const std::vector<std::vector<std::string>>& rows,
                     const std::vector<bool>& rightAligned, std::ostream& out);

 private:
  void writeHeader(const ClassSchema& schema);

  std::ostream& out_;
  SchemaPtr schema_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<bool> numeric_;  // per column: every value read so far is a number
};

}  // namespace kestrava::query
