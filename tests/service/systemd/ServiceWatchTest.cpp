#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "service/LocalService.h"
#include "service/Providers.h"
#include "service/systemd/SystemdFixture.h"

namespace kestrava::service {
namespace {

using namespace std::chrono_literals;
using kestrava::testing::kWatchUnit;

// What a sink has seen of the watched unit.
struct Seen {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<std::string, std::string>> states;  // previous, now

  void add(const EventObject& e) {
    if (e.target.get("Name").asText() != kWatchUnit) return;
    std::lock_guard lock(mutex);
    states.emplace_back(e.previous.get("State").asText(), e.target.get("State").asText());
    changed.notify_all();
  }
  bool waitFor(const std::string& state, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] {
      for (const auto& s : states)
        if (s.second == state) return true;
      return false;
    });
  }
};

std::string stateOf(LocalService& service, const std::string& path) {
  return service.getObject(path).get("State").asText();
}

TEST(ServiceWatch, AWatchSeesAServiceChangeWithinTheInterval) {
  NEED_SYSTEMD_FIXTURE();
  ProviderList providers;
  providers.push_back(makeServiceProvider());
  LocalService service(std::move(providers));
  const std::string path = "Win32_Service='" + kWatchUnit + "'";
  if (stateOf(service, path) != "Stopped") {
    service.execMethod(path, "StopService");
    for (int i = 0; i < 100 && stateOf(service, path) != "Stopped"; ++i)
      std::this_thread::sleep_for(50ms);
  }

  Seen seen;
  SubscriptionId id = service.subscribe(
      "Select * from __InstanceModificationEvent Within 0.5 Where TargetInstance Isa "
      "'Win32_Service'",
      [&](const EventObject& e) { seen.add(e); });
  std::this_thread::sleep_for(800ms);  // the first look only takes the snapshot
  EXPECT_EQ(service.execMethod(path, "StartService"), Value::integer(0));
  EXPECT_TRUE(seen.waitFor("Running", 2000ms)) << "no event within the interval";
  {
    std::lock_guard lock(seen.mutex);
    ASSERT_FALSE(seen.states.empty());
    EXPECT_EQ(seen.states.front().first, "Stopped");
  }
  EXPECT_EQ(service.execMethod(path, "StopService"), Value::integer(0));
  EXPECT_TRUE(seen.waitFor("Stopped", 2000ms));
  service.cancel(id);
}

}  // namespace
}  // namespace kestrava::service
