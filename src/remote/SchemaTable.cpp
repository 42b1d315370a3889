#include "remote/SchemaTable.h"

#include <stdexcept>

#include "remote/ProtocolError.h"

namespace kestrava::remote {

void SchemaTable::define(const Message& m) {
  int64_t number = m.body.at(0).asInteger();
  if (number < 1 || number > kMaxSchemaNumber)
    throw ProtocolError("a schema number is out of range");
  std::vector<std::string> properties;
  for (const auto& name : m.body.at(3).asArray()) {
    if (name.kind() != Value::Kind::Text) throw ProtocolError("a property name is not text");
    properties.push_back(name.asText());
  }
  std::vector<PropertyType> types;
  for (const auto& type : m.body.at(4).asArray()) {
    if (type.kind() != Value::Kind::Integer || type.asInteger() < 0 ||
        type.asInteger() > static_cast<int64_t>(PropertyType::Integer64))
      throw ProtocolError("a property type is not one this side knows");
    types.push_back(static_cast<PropertyType>(type.asInteger()));
  }
  try {
    schemas_[number] = std::make_shared<const ClassSchema>(
        m.body.at(1).asText(), m.body.at(2).asText(), std::move(properties), std::move(types));
  } catch (const std::invalid_argument& e) {
    throw ProtocolError(std::string("a schema is not a valid class shape: ") + e.what());
  }
}

SchemaPtr SchemaTable::schema(int64_t number) const {
  auto it = schemas_.find(number);
  if (it == schemas_.end()) throw ProtocolError("a class refers to a schema never declared");
  return it->second;
}

ManagementObject SchemaTable::object(const Value& number, const Value& values) const {
  if (number.asInteger() == 0) {
    if (!values.asArray().empty()) throw ProtocolError("an absent object carries values");
    return ManagementObject();
  }
  auto it = schemas_.find(number.asInteger());
  if (it == schemas_.end()) throw ProtocolError("an object refers to a schema never declared");
  const auto& items = values.asArray();
  if (items.size() != it->second->size())
    throw ProtocolError("an object has " + std::to_string(items.size()) + " values but its class " +
                        std::to_string(it->second->size()) + " properties");
  ManagementObject object(it->second);
  for (size_t i = 0; i < items.size(); ++i) object.setAt(i, items[i]);
  return object;
}

}  // namespace kestrava::remote
