#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace kestrava::testing {

// A child process that is killed and reaped when it goes out of scope.
class ChildProcess {
 public:
  // Executes path with argv (argv[0] included); the child's stdout and stderr go to /dev/null.
  static ChildProcess exec(const std::string& path, const std::vector<std::string>& argv);
  // Forks a child that runs body and then sleeps until it is killed (no exec).
  static ChildProcess fork(const std::function<void()>& body);

  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // Kills with SIGKILL and reaps; safe to call more than once.
  void killAndReap();
  // Waits (at most timeoutMs) until /proc/<pid>/comm reads as expected.
  bool waitForComm(const std::string& comm, int timeoutMs = 5000) const;

 private:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  pid_t pid_ = -1;
};

// Runs fn in a forked child with the identity of the user nobody (65534) when the test runs as
// root, else with the test's own identity; fn's result is the child's exit status (0 to 255), or
// -1 when the child died otherwise.
int runUnprivileged(const std::function<int()>& fn);

}  // namespace kestrava::testing
