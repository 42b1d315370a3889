#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/ComError.h"
#include "core/Connection.h"
#include "core/ManagementObject.h"

namespace kestrava {

// One management object: named, variant-typed properties and methods called by name. It keeps
// no connection alive: once its connection has been replaced, a method call fails.
class SWbemObject {
 public:
  SWbemObject() = default;
  SWbemObject(ManagementObject object, std::weak_ptr<Connection> connection)
      : object_(std::move(object)), connection_(std::move(connection)) {}

  // Reads a property by name, without regard to case; a name the object lacks fails with 438.
  const Value& Property(std::string_view name) const { return object_.get(name); }
  // The same read without an exception, for fills that touch millions of cells: nullptr when the
  // object lacks the property.
  const Value* findProperty(std::string_view name) const;

  // Calls a method without arguments; returns what it returns.
  Value ExecMethod(std::string_view method) const;

  const ManagementObject& data() const { return object_; }
  std::string Path() const { return object_.path(); }

 private:
  ManagementObject object_;
  std::weak_ptr<Connection> connection_;
};

}  // namespace kestrava
