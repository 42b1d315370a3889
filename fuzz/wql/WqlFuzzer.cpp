// Feeds arbitrary text to the WQL parsers, and what they accept to the Where filter over objects of
// every value kind. Only ComError "Invalid query" may come out of a refusal; nothing may crash.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/ComError.h"
#include "service/LikePattern.h"
#include "service/QueryPlan.h"
#include "service/WqlParser.h"

namespace {

using namespace kestrava;
using namespace kestrava::service;

void check(bool ok) {
  if (!ok) std::abort();
}

void collectNames(const WqlCondition& c, std::vector<std::string>& names) {
  if (!c.property.empty()) names.push_back(c.property);
  for (const auto& operand : c.operands) collectNames(operand, names);
}

// A class that has every property the query names (some in other case), plus one more.
SchemaPtr schemaFor(const SelectQuery& query) {
  std::vector<std::string> names = query.properties;
  if (query.where) collectNames(*query.where, names);
  names.push_back("Key");
  std::vector<std::string> unique;
  for (const auto& n : names) {
    bool seen = false;
    for (const auto& u : unique) seen = seen || equalsIgnoreCase(u, n);
    if (!seen) unique.push_back(n);
  }
  return std::make_shared<const ClassSchema>(query.className, unique.back(), unique);
}

std::vector<Value> sampleValues() {
  return {Value(),
          Value::null(),
          Value::text(""),
          Value::text("Running"),
          Value::text("12345678901"),
          Value::text("-2.5"),
          Value::text("true"),
          Value::text("\xC3\x84rger\xFF"),
          Value::integer(0),
          Value::integer(INT64_MIN),
          Value::real(2.5),
          Value::real(-1e300),
          Value::boolean(true),
          Value::array({Value::text("a")})};
}

void fuzzSelect(std::string_view text) {
  SelectQuery query;
  try {
    query = WqlParser::parseSelect(text);
  } catch (const ComError& e) {
    check(e.number() == err::kWbemInvalidQuery);
    return;
  }
  check(!query.className.empty());
  const SchemaPtr schema = schemaFor(query);
  try {
    QueryPlan plan(query, schema);
    const auto values = sampleValues();
    for (size_t shift = 0; shift < values.size(); ++shift) {
      ManagementObject object(schema);
      for (size_t i = 0; i < schema->size(); ++i)
        object.setAt(i, values[(i + shift) % values.size()]);
      if (plan.matches(object)) {
        ManagementObject projected = plan.project(std::move(object));
        check(projected.schema() != nullptr);
      }
    }
  } catch (const ComError& e) {
    check(e.number() == err::kWbemInvalidQuery);  // a malformed Like pattern
  }
}

void fuzzNotification(std::string_view text) {
  try {
    NotificationQuery query = WqlParser::parseNotification(text);
    check(query.withinSeconds > 0 && !query.targetClass.empty());
  } catch (const ComError& e) {
    check(e.number() == err::kWbemInvalidQuery);
  }
}

void fuzzLike(std::string_view text) {
  try {
    LikePattern pattern(text);
    // A pattern without wildcards or sets matches itself.
    if (text.find_first_of("%_[") == std::string_view::npos) check(pattern.matches(text));
    pattern.matches("Running");
    pattern.matches("\xFF\xFE\xC3");
  } catch (const ComError& e) {
    check(e.number() == err::kWbemInvalidQuery);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  fuzzSelect(text);
  fuzzNotification(text);
  fuzzLike(text);
  return 0;
}
