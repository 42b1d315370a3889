#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "sys/UniqueFd.h"

namespace kestrava::remote::testing {

// A TCP relay on 127.0.0.1 in front of a local server port, for ssh to go through. It can hold
// every chunk for a delay in each direction (a network far away), and it can turn into a black
// hole: from then on nothing passes either way and nothing is closed, as on a network that died.
class LoopbackRelay {
 public:
  explicit LoopbackRelay(int serverPort,
                         std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  ~LoopbackRelay();
  LoopbackRelay(const LoopbackRelay&) = delete;
  LoopbackRelay& operator=(const LoopbackRelay&) = delete;

  int port() const { return port_; }
  void blackHole() { hole_ = true; }

 private:
  void run();

  int serverPort_;
  std::chrono::milliseconds delay_;
  sys::UniqueFd listener_;
  sys::UniqueFd stopRead_, stopWrite_;
  int port_ = 0;
  std::atomic<bool> hole_{false};
  std::thread thread_;
};

}  // namespace kestrava::remote::testing
