#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/ClassSchema.h"
#include "core/Value.h"

namespace kestrava {

// One instance of a management class: its schema and one value per schema property.
// Properties a query did not ask for are left empty (Value::Kind::Empty is never a real value
// the service delivers for a property it read).
class ManagementObject {
 public:
  ManagementObject() = default;
  explicit ManagementObject(SchemaPtr schema)
      : schema_(std::move(schema)), values_(schema_ ? schema_->size() : 0) {}

  const SchemaPtr& schema() const { return schema_; }
  const std::string& className() const;

  // Read by name, without regard to case; a name the class lacks throws ComError 438.
  const Value& get(std::string_view name) const;
  // Set by name; a name the class lacks throws ComError 438.
  void set(std::string_view name, Value value);

  const Value& at(size_t index) const { return values_.at(index); }
  void setAt(size_t index, Value value) { values_.at(index) = std::move(value); }
  const std::vector<Value>& values() const { return values_; }

  // The object path that names this instance: Class='key' (quote and backslash escaped).
  std::string path() const;

 private:
  SchemaPtr schema_;
  std::vector<Value> values_;
};

// Builds the object path Class='key', with a backslash before every backslash and quote.
std::string makeObjectPath(std::string_view className, std::string_view key);

}  // namespace kestrava
