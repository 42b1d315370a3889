#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrava::service::linuxsys {

// One line of /proc/<pid>/mountinfo, with the kernel's octal escapes (\040 for a space, \011,
// \012, \134) decoded in the root, mount point and source.
struct MountEntry {
  int64_t id = 0;
  int64_t parentId = 0;
  uint32_t major = 0;
  uint32_t minor = 0;
  std::string root;
  std::string mountPoint;
  std::string options;  // per-mount options: rw or ro first
  std::string fsType;
  std::string source;
  std::string superOptions;

  bool readOnly() const;
};

std::optional<MountEntry> parseMountInfoLine(std::string_view line);
// Every well-formed line, in file order (at most kMaxMounts).
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Decodes backslash followed by three octal digits; any other backslash stays as it is.
std::string decodeOctalEscapes(std::string_view s);

inline constexpr size_t kMaxMounts = 65536;

}  // namespace kestrava::service::linuxsys
