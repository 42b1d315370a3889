#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "service/linux/MountGuard.h"

namespace kestrava::service::linuxsys {
namespace {

using namespace std::chrono_literals;

// Holds the calls that stand for a mount that does not answer until the test lets them go.
class Gate {
 public:
  void wait() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    open_.wait(lock, [&] { return opened_; });
    --waiting_;
  }
  void release() {
    std::lock_guard lock(mutex_);
    opened_ = true;
    open_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  bool opened_ = false;
  int waiting_ = 0;
};

bool waitUntilNoneStuck(const MountGuard& guard) {
  for (int i = 0; i < 500 && guard.stuckCalls() > 0; ++i) std::this_thread::sleep_for(10ms);
  return guard.stuckCalls() == 0;
}

TEST(MountGuardTest, ASlowCallThatProgressesFinishesASilentOneIsGivenUpAndItsMountLeftAlone) {
  MountGuard guard(MountGuard::Options{100ms, 32});
  auto gate = std::make_shared<Gate>();
  auto asked = std::make_shared<std::atomic<int>>(0);
  std::vector<MountGuard::Call> calls;
  calls.push_back({"slow", [](MountGuard::Progress& p) {
                     for (int i = 0; i < 8; ++i) {  // 400 ms in all, 50 ms between ticks
                       std::this_thread::sleep_for(50ms);
                       p.tick();
                     }
                   }});
  calls.push_back({"silent", [gate, asked](MountGuard::Progress&) {
                     ++*asked;
                     gate->wait();
                   }});
  calls.push_back({"quick", [](MountGuard::Progress&) {}});
  EXPECT_EQ(guard.run(std::move(calls)), (std::vector<bool>{true, false, true}));
  EXPECT_TRUE(guard.knownToHang("silent"));
  EXPECT_EQ(guard.stuckCalls(), 1u);

  std::vector<MountGuard::Call> again;
  again.push_back({"silent", [asked](MountGuard::Progress&) { ++*asked; }});
  EXPECT_EQ(guard.run(std::move(again)), std::vector<bool>{false});
  EXPECT_EQ(*asked, 1) << "a mount known to hang was asked again";

  gate->release();
  ASSERT_TRUE(waitUntilNoneStuck(guard));
  EXPECT_FALSE(guard.knownToHang("silent"));
  std::vector<MountGuard::Call> answered;
  answered.push_back({"silent", [asked](MountGuard::Progress&) { ++*asked; }});
  EXPECT_EQ(guard.run(std::move(answered)), std::vector<bool>{true});
}

TEST(MountGuardTest, CallsGivenUpAreCappedSoTheirThreadsCannotGrowWithoutBound) {
  MountGuard guard(MountGuard::Options{50ms, 2});
  auto gate = std::make_shared<Gate>();
  auto started = std::make_shared<std::atomic<int>>(0);
  auto hanging = [&](int mounts) {
    std::vector<MountGuard::Call> calls;
    for (int i = 0; i < mounts; ++i)
      calls.push_back(
          {"share" + std::to_string(*started + i), [gate, started](MountGuard::Progress&) {
             ++*started;
             gate->wait();
           }});
    return calls;
  };
  EXPECT_EQ(guard.run(hanging(4)), std::vector<bool>(4, false));
  EXPECT_EQ(guard.stuckCalls(), 2u);
  EXPECT_EQ(*started, 2) << "more calls were left blocked than the cap allows";
  EXPECT_EQ(guard.run(hanging(1)), std::vector<bool>{false});
  EXPECT_EQ(*started, 2);

  gate->release();
  ASSERT_TRUE(waitUntilNoneStuck(guard));
  std::vector<MountGuard::Call> later;
  later.push_back({"other", [](MountGuard::Progress&) {}});
  EXPECT_EQ(guard.run(std::move(later)), std::vector<bool>{true});
}

}  // namespace
}  // namespace kestrava::service::linuxsys
