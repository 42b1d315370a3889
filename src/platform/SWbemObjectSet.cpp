#include "platform/SWbemObjectSet.h"

namespace kestrava {

std::optional<SWbemObject> SWbemObjectSet::Next() {
  if (finished_) return std::nullopt;
  try {
    auto object = stream_->next();
    if (!object) {
      finished_ = true;
      return std::nullopt;
    }
    return SWbemObject(std::move(*object), connection_);
  } catch (...) {
    finished_ = true;
    throw;
  }
}

}  // namespace kestrava
