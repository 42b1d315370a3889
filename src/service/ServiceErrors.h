#pragma once

#include <string>
#include <string_view>

#include "core/ClassSchema.h"
#include "core/ComError.h"

namespace kestrava::service {

// The errors the local service reports to its callers, with the source every one carries.
inline constexpr const char* kServiceSource = "SWbemServicesEx";

// "Invalid query: " and what is wrong, so the user need not guess.
inline ComError invalidQuery(std::string_view detail) {
  return ComError(err::kWbemInvalidQuery, "Invalid query: " + std::string(detail), kServiceSource);
}
inline ComError noSuchProperty(const ClassSchema& schema, std::string_view property) {
  return invalidQuery(schema.className() + " has no property " + std::string(property));
}
inline ComError invalidClass(std::string_view className) {
  return ComError(err::kWbemInvalidClass, "Invalid class: no class " + std::string(className),
                  kServiceSource);
}
inline ComError invalidObjectPath() {
  return ComError(err::kWbemInvalidObjectPath, "Invalid object path", kServiceSource);
}
inline ComError genericFailure() {
  return ComError(err::kWbemFailed, "Generic failure", kServiceSource);
}

}  // namespace kestrava::service
