#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "core/ManagementObject.h"
#include "core/Value.h"

namespace kestrava::query {

// Members keep the order they were added in: a schema's property order.
using Json = nlohmann::ordered_json;

// Text as a JSON string; bytes that are not valid UTF-8 become U+FFFD, one per byte.
Json jsonText(std::string_view text);

// A value keeping its kind: string, integer or real number, true/false, null, array. Reals that
// JSON cannot carry (NaN, infinities) become null.
Json jsonValue(const Value& value);

// A 64-bit count's decimal text as a JSON number; text that is no such number stays a string.
Json jsonCount(const Value& value);

// {"Property":value,...} in schema order; unread properties as null, 64-bit counts as numbers.
Json jsonObject(const ManagementObject& object);

// One line of JSON in UTF-8: control characters escaped, nothing else.
std::string jsonLine(const Json& json);

}  // namespace kestrava::query
