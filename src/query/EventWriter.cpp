#include "query/EventWriter.h"

#include <string>
#include <vector>

#include "query/CellText.h"
#include "query/CsvWriter.h"
#include "query/JsonText.h"

namespace kestrava::query {

namespace {
struct Change {
  std::string property, previous, current;
};

std::string shown(const Value& v) {
  return v.isNull() || v.isEmpty() ? "null" : cellTextNullAsBlank(v);
}

// The properties whose values differ between the two sides of an event.
std::vector<Change> changesOf(const EventObject& event, bool forCsv) {
  std::vector<Change> changes;
  const auto& schema = event.target.schema();
  if (!schema) return changes;
  for (size_t i = 0; i < schema->size(); ++i) {
    const Value& now = event.target.at(i);
    const Value before =
        event.previous.schema() == schema
            ? event.previous.at(i)
            : (event.previous.schema() && event.previous.schema()->indexOf(schema->properties()[i])
                   ? event.previous.get(schema->properties()[i])
                   : Value());
    if (now == before) continue;
    const std::string name = validUtf8(schema->properties()[i]);
    if (forCsv)
      changes.push_back({name, plainText(before), plainText(now)});
    else
      changes.push_back({name, shown(before), shown(now)});
  }
  return changes;
}
}  // namespace

void EventWriter::write(const EventObject& event, std::string_view time) {
  const std::string path = event.target.path();
  if (format_ == OutputFormat::Json) {
    std::string line = "{\"time\":";
    appendJsonString(line, time);
    line += ",\"event\":";
    appendJsonString(line, event.className);
    line += ",\"path\":";
    appendJsonString(line, path);
    line += ",\"TargetInstance\":";
    appendJsonObject(line, event.target);
    line += ",\"PreviousInstance\":";
    appendJsonObject(line, event.previous);
    out_ << line << "}\n";
  } else if (format_ == OutputFormat::Csv) {
    if (!headerWritten_)
      CsvWriter::writeRow({"Time", "Path", "Property", "Previous", "Current"}, out_);
    headerWritten_ = true;
    for (const auto& c : changesOf(event, true))
      CsvWriter::writeRow({std::string(time), validUtf8(path), c.property, c.previous, c.current},
                          out_);
  } else {
    std::string line = std::string(time) + "  " + cellTextNullAsBlank(Value::text(path)) + " ";
    const auto changes = changesOf(event, false);
    for (size_t i = 0; i < changes.size(); ++i)
      line += (i ? ", " : " ") + changes[i].property + ": " + changes[i].previous + " -> " +
              changes[i].current;
    out_ << line << '\n';
  }
  out_.flush();
}

}  // namespace kestrava::query
