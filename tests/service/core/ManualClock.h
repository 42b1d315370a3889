#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "service/PollerClock.h"

namespace kestrava::service::testing {

// A poller clock that moves only when the test advances it. The test learns that the poller has
// done all that was due by waiting until it sleeps again (settle), never by sleeping itself.
class ManualClock final : public PollerClock {
 public:
  time_point now() const override {
    std::lock_guard lock(mutex_);
    return now_;
  }

  void waitUntil(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                 time_point deadline) override {
    uint64_t sleep = 0;
    {
      std::lock_guard own(mutex_);
      if (now_ >= deadline) return;
      sleep = ++sleeps_;
      sleepers_.push_back({sleep, now_, &wakeup, lock.mutex()});
      changed_.notify_all();
    }
    wakeup.wait(lock);
    std::lock_guard own(mutex_);
    std::erase_if(sleepers_, [&](const Sleeper& s) { return s.id == sleep; });
  }

  // Moves the time on and wakes the sleepers, each under its own lock, so no wake-up is lost.
  void advance(duration by) {
    std::vector<Sleeper> woken;
    {
      std::lock_guard own(mutex_);
      now_ += by;
      woken = sleepers_;
    }
    for (const Sleeper& s : woken) {
      std::lock_guard lock(*s.mutex);
      s.wakeup->notify_all();
    }
  }

  // Does what wakes the poller (advancing this clock, subscribing), then waits until it sleeps
  // again: it has then done everything that was due. False when it does not sleep again within
  // the patience (real time: a hang, not a schedule).
  template <typename Action>
  bool settle(Action&& action, std::chrono::milliseconds patience = std::chrono::seconds(10)) {
    uint64_t before = 0;
    {
      std::lock_guard own(mutex_);
      before = sleeps_;
    }
    action();
    // A sleep begun before the action's time (it may have come between the count and the
    // action) does not count.
    std::unique_lock own(mutex_);
    return changed_.wait_for(own, patience, [&] {
      return std::any_of(sleepers_.begin(), sleepers_.end(),
                         [&](const Sleeper& s) { return s.id > before && s.seenAt == now_; });
    });
  }
  bool advanceAndSettle(duration by) {
    return settle([&] { advance(by); });
  }

 private:
  struct Sleeper {
    uint64_t id;
    time_point seenAt;  // the time when it began to sleep
    std::condition_variable* wakeup;
    std::mutex* mutex;
  };
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  time_point now_{};
  uint64_t sleeps_ = 0;
  std::vector<Sleeper> sleepers_;
};

}  // namespace kestrava::service::testing
