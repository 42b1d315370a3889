#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "service/linux/MountInfo.h"

namespace kestrava::service::linuxsys {

// Runs the file-system calls of a query that touch mounts (statvfs, lstat, listing and reading
// logs) where a mount that stops answering, such as a network share whose server is gone, cannot
// hold the caller. A call that makes no progress for the quiet bound is given up: the caller goes
// on without its results, its mount is known to hang, and no later call asks that mount until
// the blocked call returns. The guard's threads, those of calls given up included, are capped,
// so they never grow without bound; every thread not given up is joined before run() returns.
class MountGuard {
 public:
  using Clock = std::chrono::steady_clock;
  struct Options {
    std::chrono::milliseconds quietBound{2000};
    size_t maxThreads = 32;  // of all runs together, those of calls given up included
  };

  // Handed to a call: tick() after each step restarts the quiet bound and says whether the
  // caller still waits for the call.
  class Progress {
   public:
    virtual ~Progress() = default;
    virtual bool tick() = 0;
  };

  struct Call {
    std::string mount;  // the mount it touches, as mountKey() names it
    // Owns or shares everything it touches: a call given up runs on after its caller returned.
    std::function<void(Progress&)> work;
  };

  explicit MountGuard(Options options);
  MountGuard() : MountGuard(Options()) {}

  // The guard of the running system, one for every connection of this process, so that what
  // one query learnt of a mount holds for all.
  static const std::shared_ptr<MountGuard>& live();

  // Runs the calls, several at once, and returns once each has finished, has been given up, or
  // was not started (its mount is known to hang, or the threads are all taken, most likely by
  // calls given up). True for each call that finished.
  std::vector<bool> run(std::vector<Call> calls);

  bool knownToHang(const std::string& mount) const;
  size_t stuckCalls() const;

  struct Shared;  // what the guard's threads share with it

 private:
  std::shared_ptr<Shared> shared_;
};

// A mount's name in the guard: its ID and its mount point, so a new mount on the same mount
// point is a new mount.
std::string mountKey(const MountEntry& mount);

}  // namespace kestrava::service::linuxsys
