#pragma once
// Sleeping children, so that the process list of this computer has at least `total` entries for
// the length of a benchmark; killed and reaped when the pool goes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <vector>

namespace kestrava {

class ProcessPool {
 public:
  explicit ProcessPool(size_t total) {
    size_t present = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc"))
      if (std::isdigit(static_cast<unsigned char>(e.path().filename().string()[0]))) ++present;
    for (size_t i = present; i < total; ++i) {
      pid_t pid = ::fork();
      if (pid == 0) {
        ::pause();
        ::_exit(0);
      }
      if (pid > 0) children_.push_back(pid);
    }
  }
  ~ProcessPool() {
    for (pid_t pid : children_) ::kill(pid, SIGKILL);
    for (pid_t pid : children_) ::waitpid(pid, nullptr, 0);
  }
  ProcessPool(const ProcessPool&) = delete;
  ProcessPool& operator=(const ProcessPool&) = delete;

 private:
  std::vector<pid_t> children_;
};

}  // namespace kestrava
