#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrava::service::linuxsys {

// The lines of /proc/meminfo the system classes read, in kilobytes.
struct Meminfo {
  std::optional<uint64_t> memTotalKb;
  std::optional<uint64_t> memFreeKb;
  std::optional<uint64_t> memAvailableKb;
  std::optional<uint64_t> swapTotalKb;
  std::optional<uint64_t> swapFreeKb;

  // Memory a new allocation can get without swapping: MemAvailable, or MemFree on kernels
  // older than 3.14.
  std::optional<uint64_t> availableKb() const {
    return memAvailableKb ? memAvailableKb : memFreeKb;
  }
};

Meminfo parseMeminfo(std::string_view text);

}  // namespace kestrava::service::linuxsys
