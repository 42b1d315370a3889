#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>

namespace kestrava::testing {

// What a run beside a hung mount gave: the facts the body reported, or why there were none.
struct HungMountRun {
  enum class Outcome { Finished, CannotSetUp, TimedOut, Died };
  Outcome outcome = Outcome::Died;
  std::map<std::string, std::string> facts;  // name -> value, as the body reported them
  std::string reason;                        // CannotSetUp: which step failed and why
};

// Forks a child that enters a mount namespace of its own (private: nothing it mounts reaches
// this system), mounts at mountPoint (which must exist) a FUSE file system that never answers,
// as a network share does when its server has gone, and runs body. The body is handed the FUSE
// device (closing it makes every waiting call fail at once) and reports facts. The child is
// killed after the timeout, which also ends the file system.
HungMountRun runBesideHungMount(
    const std::string& mountPoint,
    const std::function<void(int fuseFd, std::map<std::string, std::string>& facts)>& body,
    std::chrono::seconds timeout);

}  // namespace kestrava::testing
