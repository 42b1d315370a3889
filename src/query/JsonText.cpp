#include "query/JsonText.h"

#include <cmath>
#include <cstdio>

#include "service/Utf8.h"

namespace kestrava::query {

void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (size_t pos = 0; pos < text.size();) {
    const char32_t c = service::decodeUtf8(text, pos);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (service::isInvalidByte(c)) {
          out += "\\ufffd";
        } else if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          service::appendUtf8(out, c);
        }
    }
  }
  out += '"';
}

void appendJsonValue(std::string& out, const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Empty:
    case Value::Kind::Null:
      out += "null";
      return;
    case Value::Kind::Text:
      appendJsonString(out, value.asText());
      return;
    case Value::Kind::Integer:
      out += std::to_string(value.asInteger());
      return;
    case Value::Kind::Real:
      out += std::isfinite(value.asReal()) ? value.toText() : "null";
      return;
    case Value::Kind::Boolean:
      out += value.asBoolean() ? "true" : "false";
      return;
    case Value::Kind::Array: {
      out += '[';
      const auto& items = value.asArray();
      for (size_t i = 0; i < items.size(); ++i) {
        if (i) out += ',';
        appendJsonValue(out, items[i]);
      }
      out += ']';
      return;
    }
  }
}

void appendJsonObject(std::string& out, const ManagementObject& object) {
  out += '{';
  if (const auto& schema = object.schema()) {
    for (size_t i = 0; i < schema->size(); ++i) {
      if (i) out += ',';
      appendJsonString(out, schema->properties()[i]);
      out += ':';
      appendJsonValue(out, object.at(i));
    }
  }
  out += '}';
}

}  // namespace kestrava::query
