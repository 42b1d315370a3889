#include "service/linux/ProcStatus.h"

#include "service/linux/FileAccess.h"
#include "service/linux/KeyValueText.h"

namespace kestrava::service::linuxsys {

std::optional<uint64_t> parseKilobytes(std::string_view value) {
  value = trimSpace(value);
  if (value.size() < 3 || value.substr(value.size() - 2) != "kB") return std::nullopt;
  return parseUnsigned(value.substr(0, value.size() - 2));
}

ProcStatus parseProcStatus(std::string_view text) {
  ProcStatus s;
  forEachKeyValue(text, ':', [&](std::string_view key, std::string_view value) {
    if (key.size() < 5 || key.size() > 7) return;  // every key read here is 5 to 7 letters
    if (key == "VmPeak")
      s.vmPeakKb = parseKilobytes(value);
    else if (key == "VmSize")
      s.vmSizeKb = parseKilobytes(value);
    else if (key == "VmHWM")
      s.vmHwmKb = parseKilobytes(value);
    else if (key == "VmRSS")
      s.vmRssKb = parseKilobytes(value);
    else if (key == "RssAnon")
      s.rssAnonKb = parseKilobytes(value);
    else if (key == "VmSwap")
      s.vmSwapKb = parseKilobytes(value);
    else if (key == "Threads")
      s.threads = parseSigned(value);
  });
  return s;
}

}  // namespace kestrava::service::linuxsys
