#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrava::service::linuxsys {

// The memory lines of /proc/<pid>/status that the process class reads, in kilobytes.
// Kernel threads have none of them.
struct ProcStatus {
  std::optional<uint64_t> vmPeakKb;
  std::optional<uint64_t> vmSizeKb;
  std::optional<uint64_t> vmHwmKb;
  std::optional<uint64_t> vmRssKb;
  std::optional<uint64_t> rssAnonKb;
  std::optional<uint64_t> vmSwapKb;
  std::optional<int64_t> threads;
};

ProcStatus parseProcStatus(std::string_view text);

// "  1234 kB" -> 1234; nullopt for anything else.
std::optional<uint64_t> parseKilobytes(std::string_view value);

}  // namespace kestrava::service::linuxsys
