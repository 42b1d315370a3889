#pragma once

#include <optional>
#include <vector>

#include "core/ClassSchema.h"
#include "core/ManagementObject.h"
#include "service/ClassProvider.h"
#include "service/QueryFilter.h"
#include "service/WqlQuery.h"

namespace kestrava::service {

// A Select query bound to its class: which properties to ask the provider for (the select
// list, the Where clause's properties and the key), the filter, and the shape of the result.
// Built once per query, so nothing per object looks a name up or copies a schema.
class QueryPlan {
 public:
  // Throws ComError "Invalid query" when the query names a property the class lacks.
  QueryPlan(const SelectQuery& query, const SchemaPtr& schema);

  const PropertySet& wanted() const { return wanted_; }
  // The text the key must equal for an object to match, where the Where clause pins it.
  const std::optional<std::string>& keyText() const { return keyText_; }
  bool matches(const ManagementObject& object) const {
    return !filter_ || filter_->matches(object);
  }
  // The object as the query delivers it: for a select list, only those properties, in its order.
  ManagementObject project(ManagementObject&& object) const;
  // The schema of the delivered objects, given the class's: the select list's, or the class's own.
  SchemaPtr resultSchema(const SchemaPtr& classSchema) const {
    return projected_ ? projected_ : classSchema;
  }

 private:
  std::optional<QueryFilter> filter_;
  PropertySet wanted_;
  std::optional<std::string> keyText_;
  SchemaPtr projected_;          // null for Select *
  std::vector<size_t> sources_;  // projected position -> class schema position
};

}  // namespace kestrava::service
