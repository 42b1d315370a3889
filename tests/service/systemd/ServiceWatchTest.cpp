#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "service/LocalService.h"
#include "service/Providers.h"
#include "service/core/ManualClock.h"
#include "service/systemd/SystemdFixture.h"

namespace kestrava::service {
namespace {

using namespace std::chrono_literals;
using kestrava::testing::kWatchUnit;

// What a sink has seen of the watched unit.
struct Seen {
  std::mutex mutex;
  std::vector<std::pair<std::string, std::string>> states;  // previous, now

  void add(const EventObject& e) {
    if (e.target.get("Name").asText() != kWatchUnit) return;
    std::lock_guard lock(mutex);
    states.emplace_back(e.previous.get("State").asText(), e.target.get("State").asText());
  }
  std::vector<std::pair<std::string, std::string>> all() {
    std::lock_guard lock(mutex);
    return states;
  }
};

// Waits (bounded) until systemd has brought the unit to the state.
bool reaches(LocalService& service, const std::string& path, const std::string& state) {
  for (int i = 0; i < 200; ++i) {
    if (service.getObject(path).get("State").asText() == state) return true;
    std::this_thread::sleep_for(25ms);
  }
  return false;
}

TEST(ServiceWatch, AWatchSeesAServiceChangeAtItsNextInterval) {
  NEED_SYSTEMD_FIXTURE();
  auto clock = std::make_shared<testing::ManualClock>();
  ProviderList providers;
  providers.push_back(makeServiceProvider());
  LocalService::Options options;
  options.clock = clock;
  LocalService service(std::move(providers), options);
  const std::string path = "Win32_Service='" + kWatchUnit + "'";
  if (service.getObject(path).get("State").asText() != "Stopped") {
    service.execMethod(path, "StopService");
    ASSERT_TRUE(reaches(service, path, "Stopped"));
  }

  Seen seen;
  SubscriptionId id = 0;
  ASSERT_TRUE(clock->settle([&] {
    id = service.subscribe(
        "Select * from __InstanceModificationEvent Within 0.5 Where TargetInstance Isa "
        "'Win32_Service'",
        [&](const EventObject& e) { seen.add(e); });
  }));  // the first look only takes the snapshot
  EXPECT_EQ(service.execMethod(path, "StartService"), Value::integer(0));
  ASSERT_TRUE(reaches(service, path, "Running"));
  ASSERT_TRUE(clock->advanceAndSettle(499ms));
  EXPECT_TRUE(seen.all().empty()) << "looked before the interval was over";
  ASSERT_TRUE(clock->advanceAndSettle(1ms));
  EXPECT_EQ(seen.all(), (std::vector<std::pair<std::string, std::string>>{{"Stopped", "Running"}}));

  EXPECT_EQ(service.execMethod(path, "StopService"), Value::integer(0));
  ASSERT_TRUE(reaches(service, path, "Stopped"));
  ASSERT_TRUE(clock->advanceAndSettle(500ms));
  ASSERT_EQ(seen.all().size(), 2u);
  EXPECT_EQ(seen.all().back(), (std::pair<std::string, std::string>{"Running", "Stopped"}));
  service.cancel(id);
}

}  // namespace
}  // namespace kestrava::service
