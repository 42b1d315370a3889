#include "service/systemd/ProcState.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <array>
#include <string_view>

#include "sys/ProcStat.h"

namespace kestrava::service::systemd {

std::optional<char> processState(const std::string& procRoot, uint32_t pid) {
  if (pid == 0) return std::nullopt;
  const std::string path = procRoot + "/" + std::to_string(pid) + "/stat";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  // "pid (comm) S ...": comm is at most 64 bytes, so the state is within the first 256.
  std::array<char, 256> buffer{};
  ssize_t n = ::read(fd, buffer.data(), buffer.size());
  ::close(fd);
  if (n <= 0) return std::nullopt;
  return sys::parseProcState(std::string_view(buffer.data(), static_cast<size_t>(n)));
}

bool cgroupFreezerUsable(const std::string& cgroupRoot) {
  struct statfs fs {};
  if (::statfs(cgroupRoot.c_str(), &fs) != 0) return false;
  return static_cast<unsigned long>(fs.f_type) == CGROUP2_SUPER_MAGIC;
}

}  // namespace kestrava::service::systemd
