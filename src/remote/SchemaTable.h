#pragma once

#include <cstdint>
#include <unordered_map>

#include "core/ManagementObject.h"
#include "remote/Message.h"

namespace kestrava::remote {

// The receiving side's class shapes, by the number the sender gave them. Objects arrive as a
// schema number and their values; this turns them back into ManagementObjects that share one
// schema per class.
class SchemaTable {
 public:
  // Records a schema message; throws ProtocolError when it is not a valid class shape.
  void define(const Message& schemaMessage);
  // The object that a schema number and an array of values stand for; number 0 is no object.
  ManagementObject object(const Value& number, const Value& values) const;
  // The class shape a number stands for; throws ProtocolError when none was declared.
  SchemaPtr schema(int64_t number) const;

  static constexpr int64_t kMaxSchemaNumber = 65535;

 private:
  std::unordered_map<int64_t, SchemaPtr> schemas_;
};

}  // namespace kestrava::remote
