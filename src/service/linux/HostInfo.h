#pragma once

#include <map>
#include <string>

#include "service/linux/SystemRoot.h"

namespace kestrava::service::linuxsys {

// What uname tells about the running kernel and the machine, as valid UTF-8.
struct HostInfo {
  std::string hostname;  // nodename
  std::string release;   // kernel release, "6.1.0-18-amd64"
  std::string version;   // kernel build, "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1"
  std::string machine;   // "x86_64"
  bool valid = false;

  static HostInfo read(const SystemRoot& root);
};

// The assignments of /etc/os-release, or of /usr/lib/os-release where /etc has none.
std::map<std::string, std::string, std::less<>> readOsRelease(const SystemRoot& root);

// The operating system's name for people: PRETTY_NAME, else NAME, else "Linux" (the default
// os-release(5) gives).
std::string osPrettyName(const std::map<std::string, std::string, std::less<>>& osRelease);

// Whether the machine name denotes a 64-bit architecture.
bool is64BitMachine(const std::string& machine);

}  // namespace kestrava::service::linuxsys
