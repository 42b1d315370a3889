#include "query/Json.h"

#include <charconv>
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

Json jsonCount(const Value& value) {
  if (value.kind() != Value::Kind::Text) return jsonValue(value);
  const std::string& text = value.asText();
  const char* last = text.data() + text.size();
  if (uint64_t u = 0; !text.empty() && text.front() != '-') {
    if (auto [end, ec] = std::from_chars(text.data(), last, u); ec == std::errc() && end == last)
      return u;
  } else if (int64_t i = 0; !text.empty()) {
    if (auto [end, ec] = std::from_chars(text.data(), last, i); ec == std::errc() && end == last)
      return i;
  }
  return jsonText(text);
}

Json jsonObject(const ManagementObject& object) {
  Json members = Json::object();
  if (const auto& schema = object.schema())
    for (size_t i = 0; i < schema->size(); ++i)
      members[sys::validUtf8(schema->properties()[i])] =
          schema->typeOf(i) == PropertyType::Integer64 ? jsonCount(object.at(i))
                                                       : jsonValue(object.at(i));
  return members;
}

std::string jsonLine(const Json& json) {
  // Every text was made valid UTF-8 on its way in; replace is the guard should one slip through.
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace kestrava::query
