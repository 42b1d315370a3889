#include "query/Json.h"

#include <cmath>

#include "sys/Utf8.h"

namespace kestrava::query {

Json jsonText(std::string_view text) {
  return sys::validUtf8(text);
}

Json jsonValue(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Empty:
    case Value::Kind::Null:
      return nullptr;
    case Value::Kind::Text:
      return jsonText(value.asText());
    case Value::Kind::Integer:
      return value.asInteger();
    case Value::Kind::Real:
      return std::isfinite(value.asReal()) ? Json(value.asReal()) : Json(nullptr);
    case Value::Kind::Boolean:
      return value.asBoolean();
    case Value::Kind::Array: {
      Json items = Json::array();
      for (const auto& item : value.asArray()) items.push_back(jsonValue(item));
      return items;
    }
  }
  return nullptr;
}

Json jsonObject(const ManagementObject& object) {
  Json members = Json::object();
  if (const auto& schema = object.schema())
    for (size_t i = 0; i < schema->size(); ++i)
      members[sys::validUtf8(schema->properties()[i])] = jsonValue(object.at(i));
  return members;
}

std::string jsonLine(const Json& json) {
  // Every text was made valid UTF-8 on its way in; replace is the guard should one slip through.
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace kestrava::query
