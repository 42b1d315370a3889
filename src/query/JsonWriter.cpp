#include "query/JsonWriter.h"

#include "query/JsonText.h"

namespace kestrava::query {

void JsonWriter::write(const ManagementObject& object) {
  std::string line = written_++ ? ",\n" : "[\n";
  appendJsonObject(line, object);
  out_ << line;
}

void JsonWriter::finish() {
  if (finished_) return;
  finished_ = true;
  out_ << (written_ ? "\n]\n" : "[]\n");
  out_.flush();
}

}  // namespace kestrava::query
