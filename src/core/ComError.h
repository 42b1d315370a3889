#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrava {

// Every failure of the object model and of the management service travels as one of these:
// the number, description and source that a caller in continue-on-error mode records.
class ComError : public std::runtime_error {
 public:
  ComError(int32_t number, std::string description, std::string source = {})
      : std::runtime_error(description),
        number_(number),
        description_(std::move(description)),
        source_(std::move(source)) {}

  int32_t number() const noexcept { return number_; }
  const std::string& description() const noexcept { return description_; }
  const std::string& source() const noexcept { return source_; }

 private:
  int32_t number_;
  std::string description_;
  std::string source_;
};

// The numbers the program and the service use, in one place.
namespace err {
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kInternal = 51;
inline constexpr int32_t kInvalidUseOfNull = 94;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kInvalidPropertyValue = 380;
inline constexpr int32_t kSubscriptOutOfRange = 381;
inline constexpr int32_t kNoSuchMember = 438;
inline constexpr int32_t kIndexOutOfBounds = 35600;
inline constexpr int32_t kKeyNotUnique = 35602;
inline constexpr int32_t kInvalidKey = 35603;

inline constexpr int32_t kWbemFailed = static_cast<int32_t>(0x80041001);
inline constexpr int32_t kWbemNotFound = static_cast<int32_t>(0x80041002);
inline constexpr int32_t kWbemAccessDenied = static_cast<int32_t>(0x80041003);
inline constexpr int32_t kWbemInvalidParameter = static_cast<int32_t>(0x80041008);
inline constexpr int32_t kWbemNotSupported = static_cast<int32_t>(0x8004100C);
inline constexpr int32_t kWbemInvalidClass = static_cast<int32_t>(0x80041010);
inline constexpr int32_t kWbemInvalidQuery = static_cast<int32_t>(0x80041017);
inline constexpr int32_t kWbemTransportFailure = static_cast<int32_t>(0x80041015);
inline constexpr int32_t kWbemInvalidMethod = static_cast<int32_t>(0x8004102E);
inline constexpr int32_t kWbemInvalidObjectPath = static_cast<int32_t>(0x8004103A);
inline constexpr int32_t kWbemCallCancelled = static_cast<int32_t>(0x80041032);
inline constexpr int32_t kRpcServerUnavailable = static_cast<int32_t>(0x800706BA);
}  // namespace err

inline ComError objectNotSet() {
  return ComError(err::kObjectNotSet, "Object variable or With block variable not set", "Kestrava");
}

}  // namespace kestrava
