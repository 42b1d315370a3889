#include "service/linux/LogRecords.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "service/linux/LogTree.h"

namespace kestrava::service::linuxsys {

namespace {
uint64_t littleEndian64(std::string_view s, size_t offset) {
  uint64_t v = 0;
  for (size_t i = 0; i < 8; ++i) v |= uint64_t{static_cast<uint8_t>(s[offset + i])} << (8 * i);
  return v;
}
}  // namespace

std::string_view compressionMethod(std::string_view relPath) {
  std::string_view ext = logExtension(relPath);
  if (ext == "gz") return "gzip";
  if (ext == "xz") return "xz";
  if (ext == "bz2") return "bzip2";
  if (ext == "zst") return "zstd";
  if (ext == "lz4") return "lz4";
  return {};
}

std::optional<LogKind> classifyLogByName(std::string_view relPath) {
  if (!compressionMethod(relPath).empty()) return LogKind::Compressed;
  std::string_view ext = logExtension(relPath);
  if (ext == "journal" || ext == "journal~") return LogKind::Journal;
  std::string_view base = relPath.substr(relPath.rfind('/') + 1);
  if (base.starts_with("wtmp") || base.starts_with("btmp")) return LogKind::LoginRecords;
  return std::nullopt;
}

LogKind classifyLog(std::string_view relPath, std::string_view head) {
  if (auto byName = classifyLogByName(relPath)) return *byName;
  return head.find('\0') == std::string_view::npos ? LogKind::Text : LogKind::Binary;
}

std::optional<int64_t> countLines(int fd, uint64_t maxBytes) {
  std::vector<char> buf(64 * 1024);
  uint64_t total = 0;
  int64_t lines = 0;
  char last = '\n';
  for (uint64_t offset = 0;;) {
    ssize_t n = ::pread(fd, buf.data(), buf.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    total += static_cast<uint64_t>(n);
    if (total > maxBytes) return std::nullopt;
    lines += std::count(buf.data(), buf.data() + n, '\n');
    last = buf[static_cast<size_t>(n) - 1];
    offset += static_cast<uint64_t>(n);
  }
  return lines + (last != '\n' ? 1 : 0);
}

std::optional<int64_t> journalEntries(std::string_view header) {
  if (header.size() < 160 || header.substr(0, 8) != "LPKSHHRH") return std::nullopt;
  const uint64_t headerSize = littleEndian64(header, 88);
  const uint64_t entries = littleEndian64(header, 152);  // n_entries
  if (headerSize < 160 || entries > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(entries);
}

}  // namespace kestrava::service::linuxsys
