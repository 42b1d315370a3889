#pragma once

#include <optional>
#include <string>

#include "core/ComError.h"
#include "core/Value.h"

namespace kestrava {

// The value-to-text rule of list and grid cells, with the user's decimal separator. Returns the
// conversion's failure (null: 94, array: 13) instead of throwing, for fills of many cells.
std::optional<ComError> cellTextRefusingNull(const Value& value, std::string& out);

}  // namespace kestrava
