#include "service/linux/KernelStat.h"

#include "service/linux/CpuInfo.h"
#include "service/linux/FileAccess.h"

namespace kestrava::service::linuxsys {

namespace {
// "cpu3 user nice system idle iowait irq softirq steal guest guest_nice"; guest time is already
// counted in user time, so only the first eight columns add up to the total.
std::optional<CpuTicks> parseCpuLine(std::string_view line) {
  size_t sp = line.find(' ');
  if (sp == std::string_view::npos || sp <= 3) return std::nullopt;
  auto cpu = parseSigned(line.substr(3, sp - 3));
  if (!cpu || !isAllDigits(line.substr(3, sp - 3))) return std::nullopt;
  CpuTicks t;
  t.cpu = *cpu;
  std::string_view rest = line.substr(sp);
  for (int column = 0; column < 8 && !rest.empty(); ++column) {
    rest = trimSpace(rest);
    size_t end = rest.find(' ');
    auto v = parseUnsigned(rest.substr(0, end));
    if (!v) return column >= 4 ? std::optional(t) : std::nullopt;
    t.total += *v;
    if (column != 3 && column != 4) t.busy += *v;  // idle and iowait are not busy
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end);
  }
  return t;
}
}  // namespace

KernelStat parseKernelStat(std::string_view text) {
  KernelStat k;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
    if (line.starts_with("cpu") && line.size() > 3 && line[3] != ' ') {
      if (auto t = parseCpuLine(line); t && k.cpus.size() < kMaxCpus) k.cpus.push_back(*t);
    } else if (line.starts_with("btime ")) {
      k.bootTime = parseSigned(line.substr(6));
    }
  }
  return k;
}

std::optional<int64_t> loadPercentage(const CpuTicks& before, const CpuTicks& after) {
  if (after.total <= before.total || after.busy < before.busy) return std::nullopt;
  uint64_t total = after.total - before.total;
  uint64_t busy = after.busy - before.busy;
  if (busy > total) busy = total;
  return static_cast<int64_t>((busy * 100 + total / 2) / total);
}

}  // namespace kestrava::service::linuxsys
