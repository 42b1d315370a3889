#include "remote/FdIo.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kestrava::remote {

bool writeAll(int fd, std::string_view data) {
  bool socket = true;
  while (!data.empty()) {
    ssize_t n = socket ? ::send(fd, data.data(), data.size(), MSG_NOSIGNAL) : -1;
    if (n < 0 && socket && errno == ENOTSOCK) {
      socket = false;
      continue;
    }
    if (!socket) n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

ssize_t readSome(int fd, char* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace kestrava::remote
