#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "remote/UniqueFd.h"

namespace kestrava::remote {

// A program run without a shell, in a session of its own (so it never reads a terminal), with
// its standard input and output on one end of a socket pair and its standard error on a pipe.
// The destructor closes our ends, asks the program to end, kills it if it will not, and reaps it:
// no zombie and no descriptor outlive this object.
class ChildProcess {
 public:
  // Starts argv[0], looked up on PATH. Throws std::system_error carrying errno when it cannot.
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  int stdio() const { return stdio_.get(); }      // write its input, read its output
  int stderrFd() const { return stderr_.get(); }  // read its error output

  // Waits at most timeout for the program to end; its wait status once it has ended.
  std::optional<int> waitFor(std::chrono::milliseconds timeout);
  // Kills it at once and reaps it; its wait status. Our descriptors stay open.
  int kill();
  // Ends it: closes our descriptors (its input ends), then SIGTERM, then SIGKILL, each after a
  // short grace; reaps it. Only when nobody reads or writes the descriptors any more.
  int stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
  UniqueFd stdio_;
  UniqueFd stderr_;
};

}  // namespace kestrava::remote
