#include "service/PollerClock.h"

namespace kestrava::service {

namespace {
class SteadyClock final : public PollerClock {
 public:
  time_point now() const override { return std::chrono::steady_clock::now(); }
  void waitUntil(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                 time_point deadline) override {
    wakeup.wait_until(lock, deadline);
  }
};
}  // namespace

std::shared_ptr<PollerClock> PollerClock::steady() {
  static const auto clock = std::make_shared<SteadyClock>();
  return clock;
}

}  // namespace kestrava::service
