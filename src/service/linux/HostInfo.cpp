#include "service/linux/HostInfo.h"

#include <cstring>

#include "service/linux/EnvFile.h"
#include "service/linux/FileAccess.h"
#include "sys/Utf8.h"

namespace kestrava::service::linuxsys {

HostInfo HostInfo::read(const SystemRoot& root) {
  HostInfo h;
  struct utsname u {};
  if (!root.uname || root.uname(&u) != 0) return h;
  auto field = [](const char* f, size_t n) {
    return sys::validUtf8(std::string_view(f, ::strnlen(f, n)));
  };
  h.hostname = field(u.nodename, sizeof u.nodename);
  h.release = field(u.release, sizeof u.release);
  h.version = field(u.version, sizeof u.version);
  h.machine = field(u.machine, sizeof u.machine);
  h.valid = true;
  return h;
}

std::map<std::string, std::string, std::less<>> readOsRelease(const SystemRoot& root) {
  auto text = readFile(joinPath(root.etc, "os-release"), 64 * 1024);
  if (!text) text = readFile(joinPath(root.etc, "../usr/lib/os-release"), 64 * 1024);
  if (!text) return {};
  auto values = parseEnvFile(*text);
  for (auto& [k, v] : values) v = sys::validUtf8(v);
  return values;
}

std::string osPrettyName(const std::map<std::string, std::string, std::less<>>& osRelease) {
  if (auto it = osRelease.find("PRETTY_NAME"); it != osRelease.end() && !it->second.empty())
    return it->second;
  if (auto it = osRelease.find("NAME"); it != osRelease.end() && !it->second.empty())
    return it->second;
  return "Linux";
}

bool is64BitMachine(const std::string& m) {
  return m == "x86_64" || m == "aarch64" || m == "aarch64_be" || m == "ppc64" || m == "ppc64le" ||
         m == "s390x" || m == "riscv64" || m == "mips64" || m == "loongarch64" || m == "sparc64" ||
         m == "ia64" || m == "alpha";
}

}  // namespace kestrava::service::linuxsys
