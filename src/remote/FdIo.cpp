#include "remote/FdIo.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

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

WriteResult writeAllBefore(int fd, std::string_view data,
                           std::chrono::steady_clock::time_point deadline) {
  bool socket = true;
  while (!data.empty()) {
    ssize_t n = socket ? ::send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT) : -1;
    if (n < 0 && socket && errno == ENOTSOCK) socket = false;
    if (!socket) return writeAll(fd, data) ? WriteResult::kWritten : WriteResult::kFailed;
    if (n >= 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return WriteResult::kFailed;
    auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return WriteResult::kTimedOut;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX))) < 0 &&
        errno != EINTR)
      return WriteResult::kFailed;
  }
  return WriteResult::kWritten;
}

ssize_t readSome(int fd, char* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

}  // namespace kestrava::remote
