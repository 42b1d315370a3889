#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrava::service::linuxsys {

enum class LogKind { Text, Compressed, Journal, LoginRecords, Binary };

// The kind a file's name alone tells (compressed, journal, login records); nullopt when only its
// contents can tell text from binary.
std::optional<LogKind> classifyLogByName(std::string_view relPath);

// What kind of log a file is, from its name and its first bytes (up to 4 KiB).
LogKind classifyLog(std::string_view relPath, std::string_view head);

// The compression a file name's extension stands for ("gzip" for .gz); empty when none.
std::string_view compressionMethod(std::string_view relPath);

// Lines of a text log (a last line without a newline counts); nullopt past maxBytes or on a read
// error, so a huge log costs no more than maxBytes of reading.
std::optional<int64_t> countLines(int fd, uint64_t maxBytes);

// The entry count in a journal file's header; nullopt when the header is not a journal's.
std::optional<int64_t> journalEntries(std::string_view header);

inline constexpr size_t kJournalHeaderSize = 240;
inline constexpr uint64_t kMaxCountedLogBytes = 64ull << 20;

}  // namespace kestrava::service::linuxsys
