#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrava::sys {

// The fields of /proc/<pid>/stat that the process class reads (proc(5) numbering in comments).
struct ProcStat {
  int64_t pid = 0;         // 1
  std::string comm;        // 2, raw bytes: may hold spaces, parentheses and newlines
  char state = '?';        // 3
  int64_t ppid = 0;        // 4
  int64_t session = 0;     // 6
  uint64_t flags = 0;      // 9
  uint64_t minflt = 0;     // 10
  uint64_t majflt = 0;     // 12
  uint64_t utime = 0;      // 14, clock ticks
  uint64_t stime = 0;      // 15, clock ticks
  int64_t priority = 0;    // 18
  int64_t nice = 0;        // 19
  int64_t numThreads = 0;  // 20
  uint64_t startTime = 0;  // 22, clock ticks after boot
  uint64_t vsize = 0;      // 23, bytes
  int64_t rss = 0;         // 24, pages
};

// Parses the one line of /proc/<pid>/stat; nullopt when a field up to rss is missing or garbled.
// The command name runs from the first '(' to the last ')', so any name parses.
std::optional<ProcStat> parseProcStat(std::string_view text);

// The run state alone (R, S, D, T, Z ...), from as much of the line as holds it; nullopt when
// the line is cut before it or garbled up to it.
std::optional<char> parseProcState(std::string_view text);

}  // namespace kestrava::sys
