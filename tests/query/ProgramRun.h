#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrava::query::testing {

// How the built kestrava-query is run: its arguments, where its standard output goes, what is
// added to its environment, and a signal sent once `ready` says the moment has come.
struct Launch {
  enum class Output { Pipe, DevFull, Closed };

  std::vector<std::string> args = {};
  Output output = Output::Pipe;
  std::vector<std::string> environment = {};  // NAME=value, added to this process's own
  std::optional<int> signal = {};
  // Polled while the program runs; the signal goes `signalAfter` after it first says true.
  // Unset: once the program has blocked the signal to wait for it (a watch).
  std::function<bool(pid_t)> ready = {};
  std::chrono::milliseconds signalAfter{0};
  std::chrono::seconds limit{20};  // then it is killed and the test fails
};

struct Outcome {
  int status = -1;   // exit status, or -1 when a signal ended it
  int killedBy = 0;  // that signal
  pid_t pid = -1;
  std::string out, err;
};

Outcome runProgram(const Launch& launch);
inline Outcome runProgram(std::vector<std::string> args) {
  return runProgram(Launch{std::move(args)});
}

// Whether the program is ready to be interrupted: some thread holds the signal blocked (a
// thread in sigwait shows it unblocked while it waits), or the main thread waits for it.
bool blocksSignal(pid_t pid, int signal);

// The processes whose environment holds `entry` (NAME=value), by pid.
std::vector<pid_t> processesWithEnvironment(const std::string& entry);
// The processes whose parent is `parent`.
std::vector<pid_t> childrenOf(pid_t parent);

// The environment that puts the fake ssh (tests/query/fake-ssh, in front of the fake agent) first
// on PATH; its folder is removed when the test program ends.
std::vector<std::string> fakeSshEnvironment();

// Waits, at most `limit`, until `condition` holds; whether it did.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

}  // namespace kestrava::query::testing
