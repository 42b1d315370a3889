#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrava::service::linuxsys {

// One "processor" block of /proc/cpuinfo (x86 names; other architectures fill fewer fields).
struct CpuInfoEntry {
  int64_t processor = -1;
  std::string vendorId;
  std::string modelName;
  std::optional<int64_t> family;
  std::optional<int64_t> model;
  std::optional<int64_t> stepping;
  std::optional<double> mhz;
  std::optional<int64_t> cacheSizeKb;
  std::optional<int64_t> physicalId;
  std::optional<int64_t> coreId;
  std::optional<int64_t> cpuCores;
  std::optional<int64_t> siblings;
  bool longMode = false;  // the "lm" flag: a 64-bit x86 processor
};

// The blocks of /proc/cpuinfo in file order; blocks without a processor number are left out,
// and at most kMaxCpus are read.
std::vector<CpuInfoEntry> parseCpuInfo(std::string_view text);

inline constexpr size_t kMaxCpus = 8192;

}  // namespace kestrava::service::linuxsys
