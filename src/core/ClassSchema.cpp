#include "core/ClassSchema.h"

#include <stdexcept>

namespace kestrava {

namespace {
char lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string toLowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

ClassSchema::ClassSchema(std::string className, std::string keyProperty,
                         std::vector<std::string> properties, std::vector<PropertyType> types)
    : className_(std::move(className)),
      keyProperty_(std::move(keyProperty)),
      properties_(std::move(properties)),
      types_(std::move(types)) {
  if (!types_.empty() && types_.size() != properties_.size())
    throw std::invalid_argument("types do not match the properties of " + className_);
  for (size_t i = 0; i < properties_.size(); ++i) {
    if (!index_.emplace(toLowerAscii(properties_[i]), i).second)
      throw std::invalid_argument("duplicate property " + properties_[i] + " in " + className_);
  }
  if (!keyProperty_.empty() && !indexOf(keyProperty_))
    throw std::invalid_argument("key " + keyProperty_ + " is not a property of " + className_);
}

std::optional<size_t> ClassSchema::indexOf(std::string_view name) const {
  auto it = index_.find(toLowerAscii(name));
  if (it == index_.end()) return std::nullopt;
  return it->second;
}

}  // namespace kestrava
