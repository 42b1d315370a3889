#include "remote/SchemaCache.h"

#include "remote/MessageCodec.h"

namespace kestrava::remote {

int64_t SchemaCache::number(const SchemaPtr& schema, std::string& frames) {
  if (!schema) return 0;
  if (auto it = numbers_.find(schema.get()); it != numbers_.end()) return it->second.second;
  if (numbers_.size() >= capacity_) {
    numbers_.clear();
    next_ = 1;
  }
  int64_t number = next_++;
  numbers_.emplace(schema.get(), std::make_pair(schema, number));
  Value::Array names, types;
  names.reserve(schema->size());
  for (const auto& property : schema->properties()) names.push_back(Value::text(property));
  // A class whose properties are all plain sends no types at all.
  if (!schema->types().empty())
    for (PropertyType type : schema->types())
      types.push_back(Value::integer(static_cast<int64_t>(type)));
  PayloadBuilder builder(Verb::Schema, 0);
  builder.add(Value::integer(number))
      .add(Value::text(schema->className()))
      .add(Value::text(schema->keyProperty()))
      .add(Value::array(std::move(names)))
      .add(Value::array(std::move(types)));
  frames += builder.framed();
  return number;
}

}  // namespace kestrava::remote
