#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace kestrava::service::linuxsys {

enum class LogKind { Text, Compressed, Journal, LoginRecords, Binary };

// The kind a file's name alone tells (compressed, journal, login records); nullopt when only its
// contents can tell text from binary.
std::optional<LogKind> classifyLogByName(std::string_view relPath);

// What kind of log a file is, from its name and its first bytes (up to 4 KiB).
LogKind classifyLog(std::string_view relPath, std::string_view head);

// The compression a file name's extension stands for ("gzip" for .gz); empty when none.
std::string_view compressionMethod(std::string_view relPath);

// Lines in the first `size` bytes of a text log (a last line without a newline counts), read in
// pieces so no file is ever held whole; nullopt on a read error, or when keepGoing (asked after
// each piece) says to stop.
std::optional<int64_t> countLines(int fd, uint64_t size,
                                  const std::function<bool()>& keepGoing = nullptr);

// What tells one version of a file from another: device, inode, size, modification time.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t mtimeSeconds = 0;
  int64_t mtimeNanoseconds = 0;
  bool operator==(const FileIdentity&) const = default;
};

// Record counts of logs by file identity, so a log that has not changed is not read again.
// Shared by the threads of one enumeration.
class LogCountCache {
 public:
  std::optional<int64_t> find(const FileIdentity& file);
  void store(const FileIdentity& file, int64_t count);
  // Forgets every count not found or stored since the last sweep: logs that changed or went.
  void sweep();
  size_t size() const;

 private:
  struct Hash {
    size_t operator()(const FileIdentity& f) const;
  };
  struct Entry {
    int64_t count = 0;
    bool used = false;
  };
  mutable std::mutex mutex_;
  std::unordered_map<FileIdentity, Entry, Hash> counts_;
};

// The entry count in a journal file's header; nullopt when the header is not a journal's.
std::optional<int64_t> journalEntries(std::string_view header);

inline constexpr size_t kJournalHeaderSize = 240;

}  // namespace kestrava::service::linuxsys
