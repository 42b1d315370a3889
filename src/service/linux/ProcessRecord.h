#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "service/linux/ProcIo.h"
#include "service/linux/ProcStatus.h"
#include "service/linux/PropertyTable.h"
#include "service/linux/SystemRoot.h"
#include "sys/ProcStat.h"
#include "sys/UniqueFd.h"

namespace kestrava::service::linuxsys {

// A value computed once, on first use, however many threads ask for it at once.
template <class T>
class SharedLazy {
 public:
  template <class Make>
  const T& get(Make&& make) {
    std::call_once(once_, [&] { value_.emplace(make()); });
    return *value_;
  }

 private:
  std::once_flag once_;
  std::optional<T> value_;
};

// What all processes of one enumeration share, each part read on first use; the threads that read
// the processes share it.
class ProcessContext {
 public:
  explicit ProcessContext(const SystemRoot& root) : root_(root) {}

  const SystemRoot& root() const { return root_; }
  const std::optional<int64_t>& bootTime();
  const std::string& hostname();
  const std::string& osName();
  const std::string& kernelRelease();
  // On procfs since Linux 6.2 the size of /proc/<pid>/fd is the count of open descriptors, so
  // an empty table has size 0; this process's own table, never empty, tells which kernel it is.
  bool fdSizeIsCount(int procFd);

 private:
  const SystemRoot& root_;
  SharedLazy<std::optional<int64_t>> bootTime_;
  SharedLazy<std::string> hostname_;
  SharedLazy<std::string> osName_;
  SharedLazy<std::string> release_;
  SharedLazy<bool> fdSizeIsCount_;
};

// One process, read lazily from its /proc/<pid> directory: each file is opened at most once and
// only when a wanted property needs it. A file the user may not read gives nothing (null).
class ProcessRecord {
 public:
  ProcessRecord(ProcessContext& context, int procFd, int64_t pid, sys::UniqueFd dir);

  int64_t pid() const { return pid_; }
  ProcessContext& context() { return context_; }

  const sys::ProcStat* stat();
  const ProcStatus* status();
  const ProcIo* io();
  const std::optional<std::string>& exe();      // raw bytes of the link
  const std::optional<std::string>& cmdline();  // arguments joined by spaces, raw bytes
  std::optional<int64_t> handleCount();
  // The executable's name, valid UTF-8: the command name, or the executable file's name where
  // the kernel cut the command name to 15 bytes.
  const std::string* name();

  // True once a read found that the process is gone; such a process is left out.
  bool vanished() const { return vanished_; }

 private:
  ProcessContext& context_;
  int procFd_;
  int64_t pid_;
  sys::UniqueFd dir_;
  bool vanished_ = false;
  Lazy<std::optional<sys::ProcStat>> stat_;
  Lazy<std::optional<ProcStatus>> status_;
  Lazy<std::optional<ProcIo>> io_;
  Lazy<std::optional<std::string>> exe_;
  Lazy<std::optional<std::string>> cmdline_;
  Lazy<std::optional<std::string>> name_;
};

// Opens /proc/<pid> below an open /proc; an invalid descriptor when the process is gone.
sys::UniqueFd openProcessDir(int procFd, const char* pidName);

// Reads a NUL-separated /proc/<pid>/cmdline into one line, arguments joined by single spaces.
std::string joinCmdline(std::string_view raw);

}  // namespace kestrava::service::linuxsys
