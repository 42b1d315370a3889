#include "service/linux/BlockDevices.h"

#include <fcntl.h>

#include "service/linux/FileAccess.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

namespace {
std::string devicePath(const std::string& sysRoot, uint32_t major, uint32_t minor) {
  return joinPath(sysRoot, "dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
}

std::string baseName(std::string_view path) {
  return std::string(path.substr(path.rfind('/') + 1));
}

// Link name -> kernel device name for every link of one /dev/disk/by-* directory (bounded).
std::map<std::string, std::string, std::less<>> readLinks(const std::string& dir, bool decode) {
  std::map<std::string, std::string, std::less<>> out;
  DirPtr d = openDir(dir);
  if (!d) return out;
  for (int n = 0; n < 4096; ++n) {
    dirent* e = ::readdir(d.get());
    if (!e) break;
    if (e->d_name[0] == '.') continue;
    auto target = readLinkAt(::dirfd(d.get()), e->d_name);
    if (!target) continue;
    std::string name = decode ? decodeUdevEscapes(e->d_name) : std::string(e->d_name);
    out.emplace(baseName(*target), sys::validUtf8(name));
  }
  return out;
}
}  // namespace

std::string blockDeviceName(const std::string& sysRoot, uint32_t major, uint32_t minor) {
  auto target = readLinkAt(AT_FDCWD, devicePath(sysRoot, major, minor).c_str());
  return target ? baseName(*target) : std::string();
}

std::optional<bool> isRemovableDevice(const std::string& sysRoot, uint32_t major, uint32_t minor) {
  const std::string dev = devicePath(sysRoot, major, minor);
  auto text = readFile(joinPath(dev, "removable"), 16);
  if (!text) text = readFile(joinPath(dev, "../removable"), 16);  // a partition's disk
  if (!text) return std::nullopt;
  auto v = parseSigned(*text);
  return v ? std::optional<bool>(*v != 0) : std::nullopt;
}

VolumeIds VolumeIds::read(const std::string& devRoot) {
  VolumeIds ids;
  ids.labels = readLinks(joinPath(devRoot, "disk/by-label"), true);
  ids.uuids = readLinks(joinPath(devRoot, "disk/by-uuid"), false);
  return ids;
}

std::string decodeUdevEscapes(std::string_view s) {
  std::string out;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && hex(s[i + 2]) >= 0 &&
        hex(s[i + 3]) >= 0) {
      out.push_back(static_cast<char>(hex(s[i + 2]) * 16 + hex(s[i + 3])));
      i += 3;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

}  // namespace kestrava::service::linuxsys
