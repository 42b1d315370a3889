#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/ClassSchema.h"

namespace kestrava::remote {

// The sending side's numbering of class shapes: the first object of a shape is preceded by a
// schema frame, later ones refer to its number. Bounded: when full it starts numbering afresh
// (the receiver simply redefines numbers), so per-query projections cannot grow it forever.
class SchemaCache {
 public:
  explicit SchemaCache(size_t capacity = 1024) : capacity_(capacity) {}

  // The number of a schema; when it is new, appends its schema frame to frames first.
  int64_t number(const SchemaPtr& schema, std::string& frames);

 private:
  size_t capacity_;
  int64_t next_ = 1;
  // Holding the SchemaPtr keeps its address from being reused by another schema.
  std::unordered_map<const ClassSchema*, std::pair<SchemaPtr, int64_t>> numbers_;
};

}  // namespace kestrava::remote
