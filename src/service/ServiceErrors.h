#pragma once

#include "core/ComError.h"

namespace kestrava::service {

// The errors the local service reports to its callers, with the source every one carries.
inline constexpr const char* kServiceSource = "SWbemServicesEx";

inline ComError invalidQuery() {
  return ComError(err::kWbemInvalidQuery, "Invalid query", kServiceSource);
}
inline ComError invalidClass() {
  return ComError(err::kWbemInvalidClass, "Invalid class", kServiceSource);
}
inline ComError invalidObjectPath() {
  return ComError(err::kWbemInvalidObjectPath, "Invalid object path", kServiceSource);
}
inline ComError notFound() {
  return ComError(err::kWbemNotFound, "Not found", kServiceSource);
}
inline ComError genericFailure() {
  return ComError(err::kWbemFailed, "Generic failure", kServiceSource);
}

}  // namespace kestrava::service
