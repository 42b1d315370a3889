#include "query/JsonWriter.h"

#include "query/Json.h"

namespace kestrava::query {

void JsonWriter::write(const ManagementObject& object) {
  out_ << (written_++ ? ",\n" : "[\n") << jsonLine(jsonObject(object));
}

void JsonWriter::finish() {
  if (finished_) return;
  finished_ = true;
  out_ << (written_ ? "\n]\n" : "[]\n");
  out_.flush();
}

}  // namespace kestrava::query
