#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace kestrava::service::linuxsys {

// The kernel's name of a block device ("sda1", "dm-0", "zram0") from /sys/dev/block/M:m, or an
// empty text when the device number has no entry (anonymous devices of btrfs, network mounts).
std::string blockDeviceName(const std::string& sysRoot, uint32_t major, uint32_t minor);

// Whether the device, or the disk a partition belongs to, holds removable media.
std::optional<bool> isRemovableDevice(const std::string& sysRoot, uint32_t major, uint32_t minor);

// File system labels and UUIDs by kernel device name, from /dev/disk/by-label and by-uuid.
struct VolumeIds {
  std::map<std::string, std::string, std::less<>> labels;
  std::map<std::string, std::string, std::less<>> uuids;

  static VolumeIds read(const std::string& devRoot);
};

// Decodes udev's \xHH escapes in a /dev/disk/by-label name.
std::string decodeUdevEscapes(std::string_view name);

}  // namespace kestrava::service::linuxsys
