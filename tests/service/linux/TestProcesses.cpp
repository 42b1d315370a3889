#include "service/linux/TestProcesses.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace kestrava::testing {

sys::ChildProcess startProgram(const std::string& path, const std::vector<std::string>& argv) {
  sys::ChildProcess::Options options;
  options.program = path;
  return sys::ChildProcess(argv, options);
}

bool waitForComm(pid_t pid, const std::string& comm, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto read = [pid](const char* file) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  while (std::chrono::steady_clock::now() < deadline) {
    std::string got = read("comm");
    if (!got.empty() && got.back() == '\n') got.pop_back();
    if (got == comm && !read("cmdline").empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

int runUnprivileged(const std::function<int()>& fn) {
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
         ::setresuid(65534, 65534, 65534) != 0))
      ::_exit(125);
    int code = 126;
    try {
      code = fn();
    } catch (...) {
      code = 124;
    }
    ::_exit(code);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kestrava::testing
