#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "sys/UniqueFd.h"

namespace kestrava::sys {

// A program run without a shell. It starts with every signal at its default and none blocked,
// inherits none of our descriptors but its standard three, and is remembered (ChildCleanup)
// from its start until it is reaped. The destructor ends it (see stop) and reaps it: no zombie
// and no descriptor outlive this object.
class ChildProcess {
 public:
  struct Options {
    // The program to run; empty runs argv[0].
    std::string program;
    // Looks the program up on PATH when its name holds no '/'.
    bool searchPath = false;
    // A session and process group of its own, so a terminal's Ctrl+C or hang-up never reaches
    // it, and a kill reaches whatever it started too.
    bool ownSession = false;
    // Its standard input and output on one end of a socket pair (stdio()) and its standard error
    // on a pipe (stderrFd()); otherwise all three are /dev/null.
    bool piped = false;
    // Its environment, "NAME=value" each; nullopt for this program's own.
    std::optional<std::vector<std::string>> environment;
    // How long stop() lets it end by itself, and again after SIGTERM, before it kills it; zero
    // kills at once what has not ended yet.
    std::chrono::milliseconds grace{0};
  };

  // Throws std::system_error carrying errno when it cannot be started.
  ChildProcess(const std::vector<std::string>& argv, const Options& options);
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  int stdio() const { return stdio_.get(); }      // write its input, read its output
  int stderrFd() const { return stderr_.get(); }  // read its error output

  // Its wait status once it has ended; nullopt when it still runs after timeout (or at the
  // deadline). A zero timeout only looks.
  std::optional<int> waitFor(std::chrono::milliseconds timeout);
  std::optional<int> waitUntil(std::chrono::steady_clock::time_point deadline);
  // Kills it at once (with its process group when it has a session of its own) and reaps it;
  // its wait status. Our descriptors stay open.
  int kill();
  // Ends it: closes our descriptors (its input ends), waits the grace, sends SIGTERM, waits the
  // grace again, then kills it; its wait status. What an ended child left running is left alone.
  int stop();

 private:
  std::optional<int> reap(bool block);

  pid_t pid_ = -1;
  bool ownSession_ = false;
  std::chrono::milliseconds grace_{0};
  std::optional<int> status_;
  UniqueFd pidfd_;  // readable once the child has ended
  UniqueFd stdio_;
  UniqueFd stderr_;
};

}  // namespace kestrava::sys
