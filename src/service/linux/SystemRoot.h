#pragma once

#include <sys/statvfs.h>
#include <sys/utsname.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "service/linux/MountGuard.h"

namespace kestrava::service::linuxsys {

// Where the providers find the system: the roots of /proc, /sys, /etc, /var/log, /run and /dev,
// and the calls that cannot be pointed at a directory. Tests point it at a fixture tree.
struct SystemRoot {
  std::string root = "/";
  std::string proc = "/proc";
  std::string sys = "/sys";
  std::string etc = "/etc";
  std::string varLog = "/var/log";
  std::string run = "/run";
  std::string dev = "/dev";

  std::function<int(const char* path, struct statvfs* out)> statvfs = ::statvfs;
  std::function<int(struct utsname* out)> uname = ::uname;
  // Waits between two samples of the processor counters.
  std::function<void(std::chrono::milliseconds)> sleep;
  // Where the calls that touch mounts run (statvfs, lstat, the logs): one for the running system.
  std::shared_ptr<MountGuard> mountGuard;

  long clockTicksPerSecond = 100;
  long pageSize = 4096;

  // The running system.
  static SystemRoot live();
  // A recorded tree: <dir>/proc, <dir>/sys, <dir>/etc, <dir>/var/log, <dir>/run, <dir>/dev, with
  // the clock-tick and page size of the recording machine's usual values.
  static SystemRoot under(const std::string& dir);
};

}  // namespace kestrava::service::linuxsys
