#include "service/linux/LogRecords.h"

#include <fcntl.h>
#include <unistd.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
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

namespace {
int64_t countNewlines(const char* p, size_t n) {
  int64_t count = 0;
  size_t i = 0;
#ifdef __SSE2__
  // Each match subtracts -1 from its byte lane; the lanes are summed before they can overflow.
  const __m128i newline = _mm_set1_epi8('\n');
  while (i + 16 <= n) {
    __m128i lanes = _mm_setzero_si128();
    for (int block = 0; block < 255 && i + 16 <= n; ++block, i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(bytes, newline));
    }
    const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
    count += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
  }
#endif
  for (; i < n; ++i) count += p[i] == '\n';
  return count;
}
}  // namespace

std::optional<int64_t> countLines(int fd, uint64_t size, const std::function<bool()>& keepGoing) {
  constexpr size_t kPiece = 256 * 1024;
  std::unique_ptr<char[]> buf(new char[kPiece]);
  ::posix_fadvise(fd, 0, static_cast<off_t>(size), POSIX_FADV_SEQUENTIAL);
  int64_t lines = 0;
  char last = '\n';
  for (uint64_t offset = 0; offset < size;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kPiece, size - offset));
    ssize_t n = ::pread(fd, buf.get(), want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;  // cut short since its size was taken: count what is there
    lines += countNewlines(buf.get(), static_cast<size_t>(n));
    last = buf[static_cast<size_t>(n) - 1];
    offset += static_cast<uint64_t>(n);
    if (keepGoing && !keepGoing()) return std::nullopt;
  }
  return lines + (last != '\n' ? 1 : 0);
}

size_t LogCountCache::Hash::operator()(const FileIdentity& f) const {
  uint64_t h = f.inode * 0x9E3779B97F4A7C15ull;
  for (uint64_t v : {f.device, f.size, static_cast<uint64_t>(f.mtimeSeconds),
                     static_cast<uint64_t>(f.mtimeNanoseconds)})
    h = (h ^ v) * 0x100000001B3ull;
  return static_cast<size_t>(h);
}

std::optional<int64_t> LogCountCache::find(const FileIdentity& file) {
  std::lock_guard lock(mutex_);
  auto it = counts_.find(file);
  if (it == counts_.end()) return std::nullopt;
  it->second.used = true;
  return it->second.count;
}

void LogCountCache::store(const FileIdentity& file, int64_t count) {
  std::lock_guard lock(mutex_);
  counts_[file] = {count, true};
}

void LogCountCache::sweep() {
  std::lock_guard lock(mutex_);
  std::erase_if(counts_, [](const auto& entry) { return !entry.second.used; });
  for (auto& entry : counts_) entry.second.used = false;
}

size_t LogCountCache::size() const {
  std::lock_guard lock(mutex_);
  return counts_.size();
}

std::optional<int64_t> journalEntries(std::string_view header) {
  if (header.size() < 160 || header.substr(0, 8) != "LPKSHHRH") return std::nullopt;
  const uint64_t headerSize = littleEndian64(header, 88);
  const uint64_t entries = littleEndian64(header, 152);  // n_entries
  if (headerSize < 160 || entries > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(entries);
}

}  // namespace kestrava::service::linuxsys
