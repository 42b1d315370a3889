#include "query/EventWriter.h"

#include <string>
#include <vector>

#include "query/CellText.h"
#include "query/CsvWriter.h"
#include "query/Json.h"
#include "sys/Utf8.h"

namespace kestrava::query {

namespace {
struct Change {
  std::string property, previous, current;
};

std::string shown(const Value& v) {
  return v.isNull() || v.isEmpty() ? "null" : cellTextNullAsBlank(v);
}

// "created", "deleted" or "modified": what happened to the instance, in one word.
std::string_view happened(const EventObject& event) {
  if (event.className == "__InstanceCreationEvent") return "created";
  if (event.className == "__InstanceDeletionEvent") return "deleted";
  return "modified";
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
    const std::string& name = schema->properties()[i];
    if (forCsv)
      changes.push_back({sys::validUtf8(name), plainText(before), plainText(now)});
    else
      changes.push_back({terminalText(name), shown(before), shown(now)});
  }
  return changes;
}
}  // namespace

void EventWriter::write(const EventObject& event, std::string_view time,
                        std::string_view computer) {
  const std::string path = event.target.path();
  if (format_ == OutputFormat::Json) {
    Json line = Json::object();
    line["time"] = jsonText(time);
    if (namesComputer_) line["computer"] = jsonText(computer);
    line["event"] = jsonText(event.className);
    line["path"] = jsonText(path);
    line["TargetInstance"] = jsonObject(event.target);
    line["PreviousInstance"] = jsonObject(event.previous);
    out_ << jsonLine(line) << '\n';
  } else if (format_ == OutputFormat::Csv) {
    std::vector<std::string> row{"Time",     "Computer", "Path", "Property",
                                 "Previous", "Current",  "Event"};
    if (!namesComputer_) row.erase(row.begin() + 1);
    if (!headerWritten_) CsvWriter::writeRow(row, out_);
    headerWritten_ = true;
    row[0] = sys::validUtf8(time);
    if (namesComputer_) row[1] = sys::validUtf8(computer);
    const size_t at = namesComputer_ ? 2 : 1;
    row[at] = sys::validUtf8(path);
    row[at + 4] = happened(event);
    if (happened(event) != "modified") {
      // The instance came or went: one row, with no property.
      row[at + 1] = row[at + 2] = row[at + 3] = "";
      CsvWriter::writeRow(row, out_);
    } else {
      for (const auto& c : changesOf(event, true)) {
        row[at + 1] = c.property;
        row[at + 2] = c.previous;
        row[at + 3] = c.current;
        CsvWriter::writeRow(row, out_);
      }
    }
  } else {
    std::string line = terminalText(time) + "  ";
    if (namesComputer_) line += terminalText(computer) + "  ";
    line += terminalText(path) + " ";
    if (happened(event) != "modified") {
      out_ << line << ' ' << happened(event) << '\n';
      out_.flush();
      return;
    }
    const auto changes = changesOf(event, false);
    for (size_t i = 0; i < changes.size(); ++i)
      line += (i ? ", " : " ") + changes[i].property + ": " + changes[i].previous + " -> " +
              changes[i].current;
    out_ << line << '\n';
  }
  out_.flush();
}

}  // namespace kestrava::query
