#pragma once

#include <memory>
#include <optional>
#include <ostream>
#include <string_view>

#include "core/ManagementObject.h"

namespace kestrava::query {

enum class OutputFormat { Table, Csv, Json, List };

std::optional<OutputFormat> parseOutputFormat(std::string_view name);

// Writes the objects of one query in one format. finish() completes the output (a table is
// only laid out then; a JSON array is closed) and must be called also after a failed query.
class ObjectWriter {
 public:
  virtual ~ObjectWriter() = default;
  virtual void write(const ManagementObject& object) = 0;
  virtual void finish() = 0;
  // The query matched nothing; its objects would have had this schema. A table and CSV still
  // show their header.
  virtual void emptyResult(const SchemaPtr& schema) { (void)schema; }
};

// The value of the header's property `index` in an object: objects of one query share the
// header's schema; one of another computer may not, and a property it lacks is empty.
const Value& valueIn(const ManagementObject& object, const SchemaPtr& header, size_t index);

std::unique_ptr<ObjectWriter> makeObjectWriter(OutputFormat format, std::ostream& out);

// One object by itself: a table as a property/value sheet, CSV as a header and one row, JSON as
// one object, a list as one property a line.
void writeSingleObject(OutputFormat format, const ManagementObject& object, std::ostream& out);

// A method's return value as an object: ReturnValue, and Meaning from the return-code table of
// the path's class (null for a code or class without one).
ManagementObject methodResult(std::string_view objectPath, Value value);

// A method's return value and its meaning (a ReturnValue and a Meaning property): a table as
// one line "2 Access denied", the other formats as one object.
void writeReturnValue(OutputFormat format, const ManagementObject& result, std::ostream& out);

}  // namespace kestrava::query
