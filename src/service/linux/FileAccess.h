#pragma once

#include <dirent.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sys/UniqueFd.h"

namespace kestrava::service::linuxsys {

// Opens a path relative to a directory descriptor (AT_FDCWD for plain paths), close-on-exec.
sys::UniqueFd openAt(int dirFd, const char* path, int flags = 0);

// Reads a small file that arrives whole in one read (a process's stat, status or io) into buf
// (at most cap bytes); the byte count, or -1 when the file cannot be opened or read. A count
// equal to cap means the file may be longer. Never for files of many records: see readFileAt.
ptrdiff_t readAt(int dirFd, const char* name, char* buf, size_t cap);

// Reads at most limit bytes of a file, up to its real end (a read that returns 0), however few
// bytes each read brings; nullopt when it cannot be opened or read.
std::optional<std::string> readFileAt(int dirFd, const char* name, size_t limit);
std::optional<std::string> readFile(const std::string& path, size_t limit = 1 << 20);

// The target of a symbolic link, or nullopt when it cannot be read.
std::optional<std::string> readLinkAt(int dirFd, const char* name);

// Joins a root and a path below it with exactly one slash.
std::string joinPath(std::string_view root, std::string_view below);

// A directory stream that is closed when it goes out of scope.
struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;
DirPtr openDir(const std::string& path);
// Takes ownership of fd on success (fdopendir), closes it on failure.
DirPtr openDirFd(sys::UniqueFd fd);

// Text helpers for the line formats of /proc, /sys and /etc.
std::string_view trimSpace(std::string_view s);
std::optional<uint64_t> parseUnsigned(std::string_view s);
std::optional<int64_t> parseSigned(std::string_view s);
// True for a non-empty run of ASCII digits, the form of a process directory's name.
bool isAllDigits(std::string_view s);

}  // namespace kestrava::service::linuxsys
