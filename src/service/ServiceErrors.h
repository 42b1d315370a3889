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
// "Invalid object path: " and what is wrong with it.
inline ComError invalidObjectPath(std::string_view detail) {
  return ComError(err::kWbemInvalidObjectPath, "Invalid object path: " + std::string(detail),
                  kServiceSource);
}
// Why a path naming the key property `named` does not fit the class.
inline std::string keyMismatch(const ClassSchema& schema, std::string_view named) {
  if (schema.keyProperty().empty())
    return schema.className() + " has no key property, and the path names " + std::string(named);
  return "the key property of " + schema.className() + " is " + schema.keyProperty() + ", not " +
         std::string(named);
}
inline ComError genericFailure() {
  return ComError(err::kWbemFailed, "Generic failure", kServiceSource);
}

}  // namespace kestrava::service
