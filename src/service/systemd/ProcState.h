#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrava::service::systemd {

// The one-letter run state (R, S, D, T, Z ...) of a process, from <procRoot>/<pid>/stat.
// nullopt when the process is gone or the file is not as expected.
std::optional<char> processState(const std::string& procRoot, uint32_t pid);

// Whether the kernel offers the cgroup v2 freezer that systemd's FreezeUnit needs.
bool cgroupFreezerUsable(const std::string& cgroupRoot = "/sys/fs/cgroup");

}  // namespace kestrava::service::systemd
