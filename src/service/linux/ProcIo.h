#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrava::service::linuxsys {

// /proc/<pid>/io: characters and system calls of reads and writes (all I/O, not only disk).
struct ProcIo {
  std::optional<uint64_t> rchar;
  std::optional<uint64_t> wchar;
  std::optional<uint64_t> syscr;
  std::optional<uint64_t> syscw;
};

ProcIo parseProcIo(std::string_view text);

}  // namespace kestrava::service::linuxsys
