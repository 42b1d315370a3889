#pragma once

#include <string>
#include <string_view>

#include "core/ManagementObject.h"
#include "core/Value.h"

namespace kestrava::query {

// A JSON string literal: quotes, backslashes and control characters escaped, bytes that are not
// valid UTF-8 replaced by \ufffd, so the output is always valid JSON in UTF-8.
void appendJsonString(std::string& out, std::string_view text);

// A value keeping its kind: string, integer or real number, true/false, null, array. Reals that
// JSON cannot carry (NaN, infinities) become null.
void appendJsonValue(std::string& out, const Value& value);

// One object on one line: {"Property":value,...} in schema order; unread properties as null.
void appendJsonObject(std::string& out, const ManagementObject& object);

}  // namespace kestrava::query
