#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ClassSchema.h"
#include "core/ComError.h"
#include "core/ManagementObject.h"
#include "core/Value.h"

namespace kestrava::service {

// Which properties a caller needs, by schema index; an empty set means all of them. A provider
// reads only the sources that the wanted properties need (a query for Name alone never opens
// /proc/<pid>/fd).
class PropertySet {
 public:
  PropertySet() = default;
  explicit PropertySet(std::vector<bool> wanted) : wanted_(std::move(wanted)) {}
  static PropertySet all() { return {}; }
  bool wants(size_t index) const {
    return wanted_.empty() || (index < wanted_.size() && wanted_[index]);
  }
  bool wantsAll() const { return wanted_.empty(); }

 private:
  std::vector<bool> wanted_;
};

// What the manual page of the classes says of one property: its type as a query delivers it, its
// unit ("" for none) and where Linux keeps it (`backticks` mark names of files, fields and calls).
struct PropertyDoc {
  const char* type;
  const char* unit;
  const char* source;
};

// One management class of the local service, answered from the live system. Providers never
// log and never show anything; they report failures as ComError.
class ClassProvider {
 public:
  virtual ~ClassProvider() = default;

  // Class name, key property and every property, in the order queries deliver them.
  virtual const SchemaPtr& schema() const = 0;

  // Builds the instances at call time and hands each to the sink, in the provider's order; stops
  // early when the sink returns false. An instance that vanishes while it is read (a process that
  // exits) is left out or keeps what was read; it never fails the enumeration.
  virtual void enumerate(const PropertySet& wanted,
                         const std::function<bool(ManagementObject&&)>& sink) = 0;

  // As enumerate, for a query whose Where clause needs the key to equal keyText (as a Where clause
  // compares texts: without regard to case). A provider that can find those instances alone
  // reads nothing else; the default enumerates everything and leaves the choice to the caller.
  virtual void enumerateKey(std::string_view keyText, const PropertySet& wanted,
                            const std::function<bool(ManagementObject&&)>& sink);

  // The one instance whose key property has this text value; nullopt when there is none.
  // The default enumerates and compares the key.
  virtual std::optional<ManagementObject> get(const std::string& key);

  // Whether an instance with this key exists now. The default asks get().
  virtual bool exists(const std::string& key);

  // Calls a method without arguments on the instance with this key and returns its return value.
  // The default refuses every method with 0x8004102E "Invalid method".
  virtual Value invoke(const std::string& key, std::string_view method);
  // Each property's type, unit and source, in schema order; empty when the provider has none.
  virtual std::vector<PropertyDoc> documentation() const;
};

using ProviderList = std::vector<std::unique_ptr<ClassProvider>>;

}  // namespace kestrava::service
