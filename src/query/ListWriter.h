#pragma once

#include "query/ObjectWriter.h"

namespace kestrava::query {

// One property a line ("Name:   cron.service", the values aligned per object) and a blank line
// between objects, written as each object comes.
class ListWriter final : public ObjectWriter {
 public:
  explicit ListWriter(std::ostream& out) : out_(out) {}

  void write(const ManagementObject& object) override;
  void finish() override { out_.flush(); }

 private:
  std::ostream& out_;
  size_t written_ = 0;
};

}  // namespace kestrava::query
