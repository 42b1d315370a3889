#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ManagementObject.h"

namespace kestrava::query {

// One --sort PROPERTY[:desc].
struct SortKey {
  std::string property;
  bool descending = false;
  bool operator==(const SortKey&) const = default;
};

// Reads "Name", "Name:desc" or "Name:asc"; nullopt for anything else.
std::optional<SortKey> parseSortKey(std::string_view text);

// The order of the lists: runs of digits by their value, letters without regard to case, and
// blanks and punctuation before digits before letters. Negative, zero or positive.
int compareNaturally(std::string_view a, std::string_view b);

// Two values in that order: null and empty first, numbers by value, everything else by its text.
int compareValues(const Value& a, const Value& b);

// Objects in the order of the sort keys (stable: ties keep their order of arrival), at most
// `limit` of them. With a limit, only about twice that many are held at any time.
class RowOrder {
 public:
  RowOrder(std::vector<SortKey> keys, std::optional<size_t> limit)
      : keys_(std::move(keys)), limit_(limit) {}

  void add(ManagementObject object);
  // The objects in order; the order is empty afterwards.
  std::vector<ManagementObject> take();

 private:
  struct Row {
    ManagementObject object;
    size_t arrival;
  };
  bool before(const Row& a, const Row& b) const;
  void trim();

  std::vector<SortKey> keys_;
  std::optional<size_t> limit_;
  std::vector<Row> rows_;
  size_t arrived_ = 0;
};

// The first key whose property the schema lacks; nullptr when it has all.
const SortKey* missingSortKey(const std::vector<SortKey>& keys, const ClassSchema& schema);

}  // namespace kestrava::query
