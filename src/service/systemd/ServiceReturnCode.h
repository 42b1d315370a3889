#pragma once

#include <cstdint>
#include <string_view>

namespace kestrava::service {

// The return codes of Win32_Service's control methods, as their callers know them.
namespace serviceReturn {
inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kNotSupported = 1;
inline constexpr int32_t kAccessDenied = 2;
inline constexpr int32_t kCannotAcceptControl = 5;
inline constexpr int32_t kNotActive = 6;
inline constexpr int32_t kUnknownFailure = 8;
inline constexpr int32_t kAlreadyRunning = 10;
inline constexpr int32_t kDisabled = 14;
inline constexpr int32_t kAlreadyPaused = 24;

// What each code means, as kestrava-query prints it beside the number; empty for another code.
constexpr std::string_view meaning(int64_t code) {
  switch (code) {
    case kSuccess:
      return "Success";
    case kNotSupported:
      return "Not supported";
    case kAccessDenied:
      return "Access denied";
    case kCannotAcceptControl:
      return "Service cannot accept control";
    case kNotActive:
      return "Service not active";
    case kUnknownFailure:
      return "Unknown failure";
    case kAlreadyRunning:
      return "Service already running";
    case kDisabled:
      return "Service disabled";
    case kAlreadyPaused:
      return "Service already paused";
    default:
      return {};
  }
}
}  // namespace serviceReturn

}  // namespace kestrava::service
