#pragma once

#include <cstdint>

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
}  // namespace serviceReturn

}  // namespace kestrava::service
