#include "service/ClassProvider.h"

namespace kestrava::service {

void ClassProvider::enumerateKey(std::string_view, const PropertySet& wanted,
                                 const std::function<bool(ManagementObject&&)>& sink) {
  enumerate(wanted, sink);
}

std::optional<ManagementObject> ClassProvider::get(const std::string& key) {
  const auto keyIndex = schema()->indexOf(schema()->keyProperty());
  std::optional<ManagementObject> found;
  if (!keyIndex) return found;
  enumerate(PropertySet::all(), [&](ManagementObject&& object) {
    const Value& v = object.at(*keyIndex);
    bool match = (v.kind() == Value::Kind::Text && v.asText() == key) ||
                 (v.kind() == Value::Kind::Integer && std::to_string(v.asInteger()) == key);
    if (match) found = std::move(object);
    return !match;
  });
  return found;
}

bool ClassProvider::exists(const std::string& key) {
  return get(key).has_value();
}

Value ClassProvider::invoke(const std::string&, std::string_view method) {
  throw ComError(err::kWbemInvalidMethod, "Invalid method " + std::string(method), "SWbemObjectEx");
}

std::vector<PropertyDoc> ClassProvider::documentation() const {
  return {};
}

}  // namespace kestrava::service
