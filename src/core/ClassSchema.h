#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrava {

// Names of classes, properties and methods compare without regard to ASCII letter case.
bool equalsIgnoreCase(std::string_view a, std::string_view b);
std::string toLowerAscii(std::string_view s);

// What a property holds where the kind of its values does not say.
enum class PropertyType : uint8_t {
  Other,
  Integer64,  // a 64-bit count, carried as decimal text: compared and written as a number
};

// The shape of one management class: its name, its key property and its properties in order.
// Instances of one class share one schema, so a property look-up is one hash probe.
class ClassSchema {
 public:
  // types is empty (every property Other) or holds one type per property.
  ClassSchema(std::string className, std::string keyProperty, std::vector<std::string> properties,
              std::vector<PropertyType> types = {});

  const std::string& className() const { return className_; }
  const std::string& keyProperty() const { return keyProperty_; }
  const std::vector<std::string>& properties() const { return properties_; }
  size_t size() const { return properties_.size(); }
  PropertyType typeOf(size_t index) const {
    return types_.empty() ? PropertyType::Other : types_[index];
  }
  const std::vector<PropertyType>& types() const { return types_; }

  // Index of a property, found without regard to case; nullopt when the class has none.
  std::optional<size_t> indexOf(std::string_view name) const;

 private:
  std::string className_;
  std::string keyProperty_;
  std::vector<std::string> properties_;
  std::vector<PropertyType> types_;
  std::unordered_map<std::string, size_t> index_;  // lower-case name -> position
};

using SchemaPtr = std::shared_ptr<const ClassSchema>;

}  // namespace kestrava
