#include "service/linux/Smbios.h"

#include "service/linux/FileAccess.h"

namespace kestrava::service::linuxsys {

std::optional<std::string> readSmbiosStructure(const std::string& sysRoot, int type) {
  auto raw = readFile(joinPath(sysRoot, "firmware/dmi/entries/" + std::to_string(type) + "-0/raw"),
                      64 * 1024);
  if (!raw || raw->size() < 4 || static_cast<uint8_t>((*raw)[0]) != type) return std::nullopt;
  return raw;
}

std::optional<int64_t> smbiosByte(const std::optional<std::string>& structure, size_t offset) {
  if (!structure || structure->size() < 2) return std::nullopt;
  const size_t length = static_cast<uint8_t>((*structure)[1]);
  if (offset >= length || offset >= structure->size()) return std::nullopt;
  return static_cast<uint8_t>((*structure)[offset]);
}

}  // namespace kestrava::service::linuxsys
