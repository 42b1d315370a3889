#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrava::service::linuxsys {

// What /sys/devices/system/cpu/cpuN tells about one logical processor.
struct CpuSysfs {
  bool exists = false;      // the cpuN directory is there
  bool online = true;       // cpuN/online ("0" for a processor taken offline)
  bool hasCpufreq = false;  // frequency scaling, the processor's power management
  std::optional<int64_t> currentKhz;
  std::optional<int64_t> maxKhz;
  std::optional<int64_t> l2Kb;
  std::optional<int64_t> l3Kb;

  static CpuSysfs read(const std::string& cpuDir);
};

// The processors the kernel knows (present), or nullopt when the list is unreadable.
std::optional<std::vector<int64_t>> presentCpus(const std::string& sysRoot);

// A sysfs file holding one number ("2400000\n"); nullopt when absent or garbled.
std::optional<int64_t> readSysfsNumber(const std::string& path);

// A cache size as sysfs writes it ("1024K"), in kilobytes.
std::optional<int64_t> parseCacheSize(std::string_view text);

}  // namespace kestrava::service::linuxsys
