#include "service/QueryPlan.h"

#include <algorithm>

#include "service/ServiceErrors.h"

namespace kestrava::service {

QueryPlan::QueryPlan(const SelectQuery& query, const SchemaPtr& schema) {
  if (query.where) {
    filter_.emplace(*query.where, *schema);
    if (auto keyIndex = schema->indexOf(schema->keyProperty()))
      keyText_ = filter_->requiredText(*keyIndex);
  }
  if (query.properties.empty()) return;  // Select *: every property, delivered as read

  std::vector<bool> wanted(schema->size(), false);
  std::vector<std::string> names;
  std::vector<PropertyType> types;
  for (const auto& name : query.properties) {
    auto index = schema->indexOf(name);
    if (!index) throw noSuchProperty(*schema, name);
    if (std::find(sources_.begin(), sources_.end(), *index) != sources_.end()) continue;
    sources_.push_back(*index);
    names.push_back(schema->properties()[*index]);
    types.push_back(schema->typeOf(*index));
    wanted[*index] = true;
  }
  if (filter_)
    for (size_t index : filter_->properties()) wanted[index] = true;
  std::string key;
  if (auto keyIndex = schema->indexOf(schema->keyProperty())) {
    wanted[*keyIndex] = true;
    // The result keeps its path only when the key is among the selected properties.
    if (std::find(sources_.begin(), sources_.end(), *keyIndex) != sources_.end())
      key = schema->keyProperty();
  }
  wanted_ = PropertySet(std::move(wanted));
  projected_ = std::make_shared<const ClassSchema>(schema->className(), key, std::move(names),
                                                   std::move(types));
}

ManagementObject QueryPlan::project(ManagementObject&& object) const {
  if (!projected_) return std::move(object);
  ManagementObject result(projected_);
  for (size_t i = 0; i < sources_.size(); ++i) result.setAt(i, object.at(sources_[i]));
  return result;
}

}  // namespace kestrava::service
