#pragma once

#include "query/ObjectWriter.h"

namespace kestrava::query {

// A JSON array of objects, one object per line, values keeping their kinds; "[]" when empty.
class JsonWriter final : public ObjectWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  void write(const ManagementObject& object) override;
  void finish() override;

 private:
  std::ostream& out_;
  size_t written_ = 0;
  bool finished_ = false;
};

}  // namespace kestrava::query
