#include "service/linux/CpuInfo.h"

#include <charconv>

#include "service/linux/FileAccess.h"
#include "service/linux/KeyValueText.h"

namespace kestrava::service::linuxsys {

namespace {
std::optional<double> parseReal(std::string_view s) {
  s = trimSpace(s);
  double v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p == s.data()) return std::nullopt;
  return v;
}

bool hasFlag(std::string_view flags, std::string_view flag) {
  while (!flags.empty()) {
    size_t sp = flags.find(' ');
    if (flags.substr(0, sp) == flag) return true;
    if (sp == std::string_view::npos) break;
    flags.remove_prefix(sp + 1);
  }
  return false;
}

void setField(CpuInfoEntry& e, std::string_view key, std::string_view value) {
  if (key == "vendor_id")
    e.vendorId.assign(value);
  else if (key == "model name")
    e.modelName.assign(value);
  else if (key == "cpu family")
    e.family = parseSigned(value);
  else if (key == "model")
    e.model = parseSigned(value);
  else if (key == "stepping")
    e.stepping = parseSigned(value);
  else if (key == "cpu MHz")
    e.mhz = parseReal(value);
  else if (key == "cache size" && value.ends_with("KB"))
    e.cacheSizeKb = parseSigned(value.substr(0, value.size() - 2));
  else if (key == "physical id")
    e.physicalId = parseSigned(value);
  else if (key == "core id")
    e.coreId = parseSigned(value);
  else if (key == "cpu cores")
    e.cpuCores = parseSigned(value);
  else if (key == "siblings")
    e.siblings = parseSigned(value);
  else if (key == "flags")
    e.longMode = hasFlag(value, "lm");
}
}  // namespace

std::vector<CpuInfoEntry> parseCpuInfo(std::string_view text) {
  std::vector<CpuInfoEntry> out;
  CpuInfoEntry current;
  bool inBlock = false;
  auto finish = [&] {
    if (inBlock && current.processor >= 0 && out.size() < kMaxCpus)
      out.push_back(std::move(current));
    current = CpuInfoEntry{};
    inBlock = false;
  };
  forEachKeyValue(text, ':', [&](std::string_view key, std::string_view value) {
    if (key == "processor") {
      finish();
      inBlock = true;
      current.processor = parseSigned(value).value_or(-1);
      return;
    }
    if (inBlock) setField(current, key, value);
  });
  finish();
  return out;
}

}  // namespace kestrava::service::linuxsys
