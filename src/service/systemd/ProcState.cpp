#include "service/systemd/ProcState.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <array>
#include <string_view>

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
  std::string_view text(buffer.data(), static_cast<size_t>(n));
  // comm may itself hold ')' and blanks; the last ')' ends it.
  size_t close = text.rfind(')');
  if (close == std::string_view::npos || close + 2 >= text.size() || text[close + 1] != ' ')
    return std::nullopt;
  char state = text[close + 2];
  if (state < 'A' || state > 'z') return std::nullopt;
  return state;
}

bool cgroupFreezerUsable(const std::string& cgroupRoot) {
  struct statfs fs {};
  if (::statfs(cgroupRoot.c_str(), &fs) != 0) return false;
  return static_cast<unsigned long>(fs.f_type) == CGROUP2_SUPER_MAGIC;
}

}  // namespace kestrava::service::systemd
