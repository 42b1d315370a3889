#include "service/linux/FileAccess.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace kestrava::service::linuxsys {

sys::UniqueFd openAt(int dirFd, const char* path, int flags) {
  int fd;
  do {
    fd = ::openat(dirFd, path, flags | O_RDONLY | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  return sys::UniqueFd(fd);
}

namespace {
// One read(2), retried on EINTR; -1 on a read error (a process that has gone: ESRCH).
ptrdiff_t readOnce(int fd, char* buf, size_t cap) {
  ssize_t n;
  do {
    n = ::read(fd, buf, cap);
  } while (n < 0 && errno == EINTR);
  return n;
}
}  // namespace

ptrdiff_t readAt(int dirFd, const char* name, char* buf, size_t cap) {
  sys::UniqueFd fd = openAt(dirFd, name);
  if (!fd) return -1;
  // The per-process files read here (stat, status, io) are made whole before the first read is
  // answered, so one read of a large enough buffer holds all of them and the read that would
  // return 0 is saved. Files of many records (mountinfo, cpuinfo) come a page at a time instead:
  // those are read with readFileAt.
  return readOnce(fd.get(), buf, cap);
}

std::optional<std::string> readFileAt(int dirFd, const char* name, size_t limit) {
  sys::UniqueFd fd = openAt(dirFd, name);
  if (!fd) return std::nullopt;
  // A short read is no end of file: /proc's record files hand out about one page per read, and
  // a pipe what has been written so far. Only a read that returns 0 ends the file.
  std::string out;
  size_t chunk = 4096;
  while (out.size() < limit) {
    const size_t old = out.size();
    const size_t want = std::min(chunk, limit - old);
    out.resize(old + want);
    const ptrdiff_t n = readOnce(fd.get(), out.data() + old, want);
    if (n < 0) return std::nullopt;
    out.resize(old + static_cast<size_t>(n));
    if (n == 0) break;
    if (static_cast<size_t>(n) == want) chunk = std::min<size_t>(chunk * 2, 1 << 20);
  }
  return out;
}

std::optional<std::string> readFile(const std::string& path, size_t limit) {
  return readFileAt(AT_FDCWD, path.c_str(), limit);
}

std::optional<std::string> readLinkAt(int dirFd, const char* name) {
  char buf[4096];
  ssize_t n = ::readlinkat(dirFd, name, buf, sizeof buf);
  if (n < 0 || static_cast<size_t>(n) >= sizeof buf) return std::nullopt;
  return std::string(buf, static_cast<size_t>(n));
}

std::string joinPath(std::string_view root, std::string_view below) {
  while (!root.empty() && root.back() == '/') root.remove_suffix(1);
  while (!below.empty() && below.front() == '/') below.remove_prefix(1);
  std::string out;
  out.reserve(root.size() + below.size() + 1);
  out.append(root);
  out.push_back('/');
  out.append(below);
  return out;
}

DirPtr openDir(const std::string& path) {
  return openDirFd(openAt(AT_FDCWD, path.c_str(), O_DIRECTORY));
}

DirPtr openDirFd(sys::UniqueFd fd) {
  if (!fd) return nullptr;
  DIR* d = ::fdopendir(fd.get());
  if (!d) return nullptr;
  static_cast<void>(fd.release());
  return DirPtr(d);
}

std::string_view trimSpace(std::string_view s) {
  const char* ws = " \t\r\n\v\f";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

std::optional<uint64_t> parseUnsigned(std::string_view s) {
  s = trimSpace(s);
  uint64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p == s.data()) return std::nullopt;
  return v;
}

std::optional<int64_t> parseSigned(std::string_view s) {
  s = trimSpace(s);
  int64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p == s.data()) return std::nullopt;
  return v;
}

bool isAllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace kestrava::service::linuxsys
