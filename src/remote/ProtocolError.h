#pragma once

#include <string>

#include "core/ComError.h"

namespace kestrava::remote {

// A violation of the protocol (malformed, oversized, unknown kind, truncated). The description
// says what was wrong in plain words; the connection turns it into an error naming the computer.
class ProtocolError : public ComError {
 public:
  explicit ProtocolError(const std::string& detail)
      : ComError(err::kWbemTransportFailure, detail, "kestrava protocol"), detail_(detail) {}
  const std::string& detail() const noexcept { return detail_; }

 private:
  std::string detail_;
};

}  // namespace kestrava::remote
