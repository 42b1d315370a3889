#include "service/linux/CpuList.h"

#include <algorithm>

#include "service/linux/CpuInfo.h"
#include "service/linux/FileAccess.h"

namespace kestrava::service::linuxsys {

std::optional<std::vector<int64_t>> parseCpuList(std::string_view text) {
  text = trimSpace(text);
  std::vector<int64_t> out;
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view part = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    size_t dash = part.find('-');
    std::string_view lo = part.substr(0, dash);
    std::string_view hi = dash == std::string_view::npos ? lo : part.substr(dash + 1);
    if (!isAllDigits(lo) || !isAllDigits(hi)) return std::nullopt;
    auto a = parseUnsigned(lo), b = parseUnsigned(hi);
    if (!a || !b || *a > *b || *b >= kMaxCpus) return std::nullopt;
    for (uint64_t c = *a; c <= *b && out.size() < kMaxCpus; ++c)
      out.push_back(static_cast<int64_t>(c));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace kestrava::service::linuxsys
