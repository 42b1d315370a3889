#include "platform/Err.h"

namespace kestrava {

PendingError& Err() {
  thread_local PendingError error;
  return error;
}

}  // namespace kestrava
