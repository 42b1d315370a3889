#include "service/linux/CpuSysfs.h"

#include <sys/stat.h>

#include "service/linux/CpuList.h"
#include "service/linux/FileAccess.h"

namespace kestrava::service::linuxsys {

namespace {
bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Sizes of the unified or data caches of levels 2 and 3, from cache/indexK (K = 0..15).
void readCaches(const std::string& cpuDir, CpuSysfs& out) {
  for (int k = 0; k < 16; ++k) {
    const std::string index = joinPath(cpuDir, "cache/index" + std::to_string(k));
    auto level = readSysfsNumber(joinPath(index, "level"));
    if (!level) {
      if (!isDirectory(index)) break;
      continue;
    }
    auto type = readFile(joinPath(index, "type"), 64);
    if (type && trimSpace(*type) == "Instruction") continue;
    auto sizeText = readFile(joinPath(index, "size"), 64);
    auto size = sizeText ? parseCacheSize(*sizeText) : std::nullopt;
    if (*level == 2 && !out.l2Kb) out.l2Kb = size;
    if (*level == 3 && !out.l3Kb) out.l3Kb = size;
  }
}
}  // namespace

std::optional<int64_t> readSysfsNumber(const std::string& path) {
  auto text = readFile(path, 64);
  return text ? parseSigned(*text) : std::nullopt;
}

std::optional<int64_t> parseCacheSize(std::string_view text) {
  text = trimSpace(text);
  int64_t scale = 1;
  if (text.ends_with('K')) {
    text.remove_suffix(1);
  } else if (text.ends_with('M')) {
    text.remove_suffix(1);
    scale = 1024;
  }
  if (!isAllDigits(text)) return std::nullopt;
  auto v = parseSigned(text);
  return v ? std::optional(*v * scale) : std::nullopt;
}

CpuSysfs CpuSysfs::read(const std::string& cpuDir) {
  CpuSysfs s;
  s.exists = isDirectory(cpuDir);
  if (!s.exists) return s;
  if (auto online = readSysfsNumber(joinPath(cpuDir, "online"))) s.online = *online != 0;
  const std::string freq = joinPath(cpuDir, "cpufreq");
  s.hasCpufreq = isDirectory(freq);
  if (s.hasCpufreq) {
    s.currentKhz = readSysfsNumber(joinPath(freq, "scaling_cur_freq"));
    s.maxKhz = readSysfsNumber(joinPath(freq, "cpuinfo_max_freq"));
  }
  readCaches(cpuDir, s);
  return s;
}

std::optional<std::vector<int64_t>> presentCpus(const std::string& sysRoot) {
  auto text = readFile(joinPath(sysRoot, "devices/system/cpu/present"), 64 * 1024);
  if (!text) return std::nullopt;
  return parseCpuList(*text);
}

}  // namespace kestrava::service::linuxsys
