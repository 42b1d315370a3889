#pragma once

#include <optional>
#include <string_view>

namespace kestrava::service::linuxsys {

// Kernel and memory file systems that hold no user data (proc, sysfs, cgroup, tmpfs, ...): they
// are no logical disks.
bool isPseudoFileSystem(std::string_view fsType);

// File systems served by another computer (nfs, cifs, sshfs, ...).
bool isNetworkFileSystem(std::string_view fsType);

// Whether the file system can compress single files; nullopt for types not known here.
std::optional<bool> supportsFileCompression(std::string_view fsType);

}  // namespace kestrava::service::linuxsys
