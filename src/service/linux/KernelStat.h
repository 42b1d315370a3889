#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kestrava::service::linuxsys {

// Busy and total clock ticks of one processor, from its "cpuN" line of /proc/stat.
struct CpuTicks {
  int64_t cpu = -1;
  uint64_t busy = 0;
  uint64_t total = 0;
};

// What the system classes read from /proc/stat: the boot time and the per-processor ticks.
struct KernelStat {
  std::optional<int64_t> bootTime;  // seconds since the epoch
  std::vector<CpuTicks> cpus;
};

KernelStat parseKernelStat(std::string_view text);

// The share of the interval a processor was busy, 0 to 100; nullopt when no tick passed.
std::optional<int64_t> loadPercentage(const CpuTicks& before, const CpuTicks& after);

}  // namespace kestrava::service::linuxsys
