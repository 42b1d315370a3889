#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ClassSchema.h"
#include "core/ManagementObject.h"
#include "core/Value.h"
#include "service/ClassProvider.h"

namespace kestrava::service::linuxsys {

// One property of a class: its name, what its manual page says of it, and how to compute it from
// the instance's record. A record reads its sources lazily, so only the sources of the wanted
// properties are ever opened.
template <class Record>
struct PropertyDef {
  const char* name;
  PropertyDoc doc;
  Value (*get)(Record&);
  // A row documented as uint64 is a 64-bit count already (makeSchema); the mark is needed only
  // where the documented type says otherwise, as for a count that is always null here.
  PropertyType type = PropertyType::Other;
};

// The mark of a property whose values are 64-bit counts in decimal text (decimalText).
inline constexpr PropertyType kInteger64 = PropertyType::Integer64;

template <class Record>
std::vector<PropertyDoc> documentTable(std::span<const PropertyDef<Record>> table) {
  std::vector<PropertyDoc> docs;
  docs.reserve(table.size());
  for (const auto& p : table) docs.push_back(p.doc);
  return docs;
}

template <class Record>
SchemaPtr makeSchema(std::string className, std::string keyProperty,
                     std::span<const PropertyDef<Record>> table) {
  std::vector<std::string> names;
  std::vector<PropertyType> types;
  names.reserve(table.size());
  types.reserve(table.size());
  for (const auto& p : table) {
    names.emplace_back(p.name);
    // A count documented as uint64 is one, whether or not its row marks it.
    const bool count = p.type == PropertyType::Other && std::string_view(p.doc.type) == "uint64";
    types.push_back(count ? PropertyType::Integer64 : p.type);
  }
  return std::make_shared<const ClassSchema>(std::move(className), std::move(keyProperty),
                                             std::move(names), std::move(types));
}

// The instance with every wanted property computed; the others stay empty.
template <class Record>
ManagementObject buildObject(const SchemaPtr& schema, std::span<const PropertyDef<Record>> table,
                             const PropertySet& wanted, Record& record) {
  ManagementObject object(schema);
  for (size_t i = 0; i < table.size(); ++i)
    if (wanted.wants(i)) object.setAt(i, table[i].get(record));
  return object;
}

// A value computed on first use and kept for the rest of one enumeration.
template <class T>
class Lazy {
 public:
  template <class Make>
  T& get(Make&& make) {
    if (!value_) value_.emplace(make());
    return *value_;
  }

 private:
  std::optional<T> value_;
};

// Values for the conventions of the classes: counts that may pass 32 bits as decimal text,
// unknown values as null.
inline Value decimalText(uint64_t v) {
  return Value::text(std::to_string(v));
}
inline Value decimalTextOrNull(const std::optional<uint64_t>& v) {
  return v ? decimalText(*v) : Value::null();
}
inline Value integerOrNull(const std::optional<int64_t>& v) {
  return v ? Value::integer(*v) : Value::null();
}
inline Value textOrNull(const std::optional<std::string>& v) {
  return v ? Value::text(*v) : Value::null();
}
inline Value nonEmptyTextOrNull(const std::string& v) {
  return v.empty() ? Value::null() : Value::text(v);
}
inline Value nullValue() {
  return Value::null();
}

}  // namespace kestrava::service::linuxsys
