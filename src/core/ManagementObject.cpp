#include "core/ManagementObject.h"

#include "core/ComError.h"

namespace kestrava {

namespace {
[[noreturn]] void noSuchMember(std::string_view name) {
  throw ComError(err::kNoSuchMember,
                 "Object doesn't support this property or method: '" + std::string(name) + "'",
                 "SWbemObject");
}
}  // namespace

const std::string& ManagementObject::className() const {
  static const std::string none;
  return schema_ ? schema_->className() : none;
}

const Value& ManagementObject::get(std::string_view name) const {
  if (!schema_) noSuchMember(name);
  auto index = schema_->indexOf(name);
  if (!index) noSuchMember(name);
  return values_[*index];
}

void ManagementObject::set(std::string_view name, Value value) {
  if (!schema_) noSuchMember(name);
  auto index = schema_->indexOf(name);
  if (!index) noSuchMember(name);
  values_[*index] = std::move(value);
}

std::string ManagementObject::path() const {
  if (!schema_ || schema_->keyProperty().empty()) return className();
  const Value& key = values_[*schema_->indexOf(schema_->keyProperty())];
  std::string keyText = key.kind() == Value::Kind::Text || key.kind() == Value::Kind::Integer
                            ? key.toText()
                            : std::string();
  return makeObjectPath(className(), keyText);
}

std::string makeObjectPath(std::string_view className, std::string_view key) {
  std::string path(className);
  path += "='";
  for (char c : key) {
    if (c == '\\' || c == '\'') path += '\\';
    path += c;
  }
  path += '\'';
  return path;
}

}  // namespace kestrava
