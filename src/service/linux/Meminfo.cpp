#include "service/linux/Meminfo.h"

#include "service/linux/KeyValueText.h"
#include "service/linux/ProcStatus.h"

namespace kestrava::service::linuxsys {

Meminfo parseMeminfo(std::string_view text) {
  Meminfo m;
  forEachKeyValue(text, ':', [&](std::string_view key, std::string_view value) {
    if (key == "MemTotal")
      m.memTotalKb = parseKilobytes(value);
    else if (key == "MemFree")
      m.memFreeKb = parseKilobytes(value);
    else if (key == "MemAvailable")
      m.memAvailableKb = parseKilobytes(value);
    else if (key == "SwapTotal")
      m.swapTotalKb = parseKilobytes(value);
    else if (key == "SwapFree")
      m.swapFreeKb = parseKilobytes(value);
  });
  return m;
}

}  // namespace kestrava::service::linuxsys
