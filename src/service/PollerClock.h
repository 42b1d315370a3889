#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace kestrava::service {

// The time the notification poller schedules its reads by: the steady clock, or one a test
// drives by hand.
class PollerClock {
 public:
  using time_point = std::chrono::steady_clock::time_point;
  using duration = std::chrono::steady_clock::duration;

  virtual ~PollerClock() = default;
  virtual time_point now() const = 0;
  // Waits on wakeup, which lock (held on entry and on return) guards, until the deadline has
  // passed on this clock or wakeup is notified. May return early; the caller looks again.
  virtual void waitUntil(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                         time_point deadline) = 0;

  static std::shared_ptr<PollerClock> steady();
};

}  // namespace kestrava::service
