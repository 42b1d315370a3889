#include "service/linux/SystemRoot.h"

#include <unistd.h>

#include <thread>

#include "service/linux/FileAccess.h"

namespace kestrava::service::linuxsys {

SystemRoot SystemRoot::live() {
  SystemRoot r;
  r.sleep = [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); };
  r.mountGuard = MountGuard::live();
  if (long t = ::sysconf(_SC_CLK_TCK); t > 0) r.clockTicksPerSecond = t;
  if (long p = ::sysconf(_SC_PAGESIZE); p > 0) r.pageSize = p;
  return r;
}

SystemRoot SystemRoot::under(const std::string& dir) {
  SystemRoot r;
  r.root = dir;
  r.proc = joinPath(dir, "proc");
  r.sys = joinPath(dir, "sys");
  r.etc = joinPath(dir, "etc");
  r.varLog = joinPath(dir, "var/log");
  r.run = joinPath(dir, "run");
  r.dev = joinPath(dir, "dev");
  r.sleep = [](std::chrono::milliseconds) {};
  r.mountGuard = std::make_shared<MountGuard>();
  return r;
}

}  // namespace kestrava::service::linuxsys
