#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/ComError.h"
#include "service/LocalService.h"
#include "service/NotificationPoller.h"
#include "service/core/FakeProvider.h"

namespace kestrava::service {
namespace {

using namespace std::chrono_literals;
using testing::FakeProvider;

constexpr auto kInterval = 50ms;
constexpr auto kPatience = 5s;  // upper bound for anything that should happen within an interval

std::string watchQuery(const std::string& target, const char* within = "0.05") {
  return std::string("Select * from __InstanceModificationEvent Within ") + within +
         " Where TargetInstance Isa '" + target + "'";
}

// Collects events from any thread; tests wait on it with a bound.
class EventLog {
 public:
  EventCallback callback() {
    return [this](const EventObject& e) {
      std::lock_guard lock(mutex_);
      events_.push_back(e);
      changed_.notify_all();
    };
  }
  bool waitForCount(size_t n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return events_.size() >= n; });
  }
  std::vector<EventObject> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  size_t size() {
    std::lock_guard lock(mutex_);
    return events_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<EventObject> events_;
};

// Waits (bounded) until the provider has been read n more times than now.
bool waitForReads(const FakeProvider& provider, size_t more) {
  const size_t target = provider.enumerations() + more;
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (provider.enumerations() < target) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

class NotificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto services = std::make_unique<FakeProvider>("Kestrava_Unit", "Name",
                                                   std::vector<std::string>{"Name", "State"});
    services->setRows({{{"Name", Value::text("a.service")}, {"State", Value::text("Running")}},
                       {{"Name", Value::text("b.service")}, {"State", Value::text("Stopped")}}});
    auto disks = std::make_unique<FakeProvider>("Kestrava_Disk", "DeviceID",
                                                std::vector<std::string>{"DeviceID", "Free"});
    disks->setRows({{{"DeviceID", Value::text("/")}, {"Free", Value::text("100")}}});
    services_ = services.get();
    disks_ = disks.get();
    ProviderList providers;
    providers.push_back(std::move(services));
    providers.push_back(std::move(disks));
    service_ = std::make_unique<LocalService>(std::move(providers));
  }

  FakeProvider* services_ = nullptr;
  FakeProvider* disks_ = nullptr;
  std::unique_ptr<LocalService> service_;
};

TEST_F(NotificationTest, ModificationIsDeliveredWithTargetAndPrevious) {
  EventLog log;
  service_->subscribe(watchQuery("Kestrava_Unit"), log.callback());
  ASSERT_TRUE(waitForReads(*services_, 1));  // the baseline
  services_->setValue(1, "State", Value::text("Running"));
  ASSERT_TRUE(log.waitForCount(1));
  auto e = log.events().front();
  EXPECT_EQ(e.className, "__InstanceModificationEvent");
  EXPECT_EQ(e.target.get("Name"), Value::text("b.service"));
  EXPECT_EQ(e.target.get("State"), Value::text("Running"));
  EXPECT_EQ(e.previous.get("State"), Value::text("Stopped"));
  // Unchanged instances and later unchanged reads deliver nothing more.
  ASSERT_TRUE(waitForReads(*services_, 3));
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(NotificationTest, CreationsAndDeletionsAreNotReported) {
  EventLog log;
  service_->subscribe(watchQuery("Kestrava_Unit"), log.callback());
  ASSERT_TRUE(waitForReads(*services_, 1));
  services_->setRows({{{"Name", Value::text("a.service")}, {"State", Value::text("Running")}},
                      {{"Name", Value::text("c.service")}, {"State", Value::text("Running")}}});
  ASSERT_TRUE(waitForReads(*services_, 3));
  EXPECT_EQ(log.size(), 0u);
}

TEST_F(NotificationTest, OneReadPerIntervalHoweverManySubscriptions) {
  EventLog log;
  const auto start = std::chrono::steady_clock::now();
  const size_t before = services_->enumerations();
  for (int i = 0; i < 17; ++i) service_->subscribe(watchQuery("Kestrava_Unit"), log.callback());
  ASSERT_TRUE(waitForReads(*services_, 6));
  const size_t reads = services_->enumerations() - before;
  const auto elapsed = std::chrono::steady_clock::now() - start;
  // Reads are at least one interval apart: at most elapsed/interval + 1, whatever the count.
  EXPECT_LE(reads, static_cast<size_t>(elapsed / kInterval) + 1) << reads << " reads";

  services_->setValue(0, "State", Value::text("Stopped"));
  ASSERT_TRUE(log.waitForCount(17));
  ASSERT_TRUE(waitForReads(*services_, 2));
  EXPECT_EQ(log.size(), 17u);             // one event per subscription, not more
  EXPECT_EQ(disks_->enumerations(), 0u);  // a class nobody watches is not read
}

TEST_F(NotificationTest, EachWatchedClassIsReadAndDeliveredToItsOwnSubscribers) {
  EventLog units, disks;
  service_->subscribe(watchQuery("Kestrava_Unit"), units.callback());
  service_->subscribe(watchQuery("kestrava_disk"), disks.callback());
  ASSERT_TRUE(waitForReads(*services_, 1));
  ASSERT_TRUE(waitForReads(*disks_, 1));
  disks_->setValue(0, "Free", Value::text("90"));
  ASSERT_TRUE(disks.waitForCount(1));
  EXPECT_EQ(disks.events()[0].target.get("Free"), Value::text("90"));
  EXPECT_EQ(units.size(), 0u);
}

TEST_F(NotificationTest, CancelStopsDeliveryAndUnknownIdsAreIgnored) {
  EventLog kept, cancelled;
  service_->subscribe(watchQuery("Kestrava_Unit"), kept.callback());
  SubscriptionId id = service_->subscribe(watchQuery("Kestrava_Unit"), cancelled.callback());
  ASSERT_TRUE(waitForReads(*services_, 1));
  service_->cancel(id);
  service_->cancel(id);
  service_->cancel(987654);
  services_->setValue(0, "State", Value::text("Stopped"));
  ASSERT_TRUE(kept.waitForCount(1));
  ASSERT_TRUE(waitForReads(*services_, 2));
  EXPECT_EQ(cancelled.size(), 0u);
}

TEST_F(NotificationTest, NoCallbackRunsAfterCancelReturns) {
  std::atomic<bool> inCallback{false};
  std::atomic<int> calls{0};
  std::atomic<bool> entered{false};
  EventLog other;  // keeps the class watched after the cancel
  service_->subscribe(watchQuery("Kestrava_Unit"), other.callback());
  SubscriptionId id = service_->subscribe(watchQuery("Kestrava_Unit"), [&](const EventObject&) {
    inCallback = true;
    entered = true;
    std::this_thread::sleep_for(100ms);  // a slow sink
    ++calls;
    inCallback = false;
  });
  ASSERT_TRUE(waitForReads(*services_, 1));
  services_->setValue(0, "State", Value::text("Stopped"));
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!entered && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(entered);
  service_->cancel(id);
  EXPECT_FALSE(inCallback);
  const int callsAtCancel = calls;
  services_->setValue(0, "State", Value::text("Running"));
  ASSERT_TRUE(other.waitForCount(2));
  ASSERT_TRUE(waitForReads(*services_, 2));
  EXPECT_EQ(calls, callsAtCancel);
}

TEST_F(NotificationTest, CallbackMayCancelItselfAndSubscribeAgain) {
  EventLog log;
  std::atomic<SubscriptionId> own{0};
  std::atomic<int> calls{0};
  own = service_->subscribe(watchQuery("Kestrava_Unit"), [&](const EventObject&) {
    ++calls;
    service_->cancel(own);
    service_->subscribe(watchQuery("Kestrava_Unit"), log.callback());
  });
  ASSERT_TRUE(waitForReads(*services_, 1));
  services_->setValue(0, "State", Value::text("Stopped"));
  ASSERT_TRUE(waitForReads(*services_, 2));
  services_->setValue(0, "State", Value::text("Running"));
  ASSERT_TRUE(log.waitForCount(1));
  EXPECT_EQ(calls, 1);
}

TEST_F(NotificationTest, AFailedReadSkipsOnePollAndDeliveryGoesOn) {
  EventLog log;
  service_->subscribe(watchQuery("Kestrava_Unit"), log.callback());
  ASSERT_TRUE(waitForReads(*services_, 1));
  services_->failAfter(0, ComError(err::kWbemFailed, "Generic failure"));
  ASSERT_TRUE(waitForReads(*services_, 2));
  services_->clearFailure();
  services_->setValue(1, "State", Value::text("Running"));
  ASSERT_TRUE(log.waitForCount(1));
  EXPECT_EQ(log.events()[0].previous.get("State"), Value::text("Stopped"));
}

TEST_F(NotificationTest, ASelectStarMeetingThePollersReadSharesIt) {
  services_->setDelay(300ms);
  EventLog log;
  service_->subscribe(watchQuery("Kestrava_Unit", "60"), log.callback());
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (services_->enumerations() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  ASSERT_EQ(services_->enumerations(), 1u);  // the baseline read is under way

  auto stream = service_->execQuery("Select * From Kestrava_Unit Where State = 'Stopped'");
  EXPECT_EQ(services_->enumerations(), 1u);
  auto object = stream->next();
  ASSERT_TRUE(object);
  EXPECT_EQ(object->get("Name"), Value::text("b.service"));
  EXPECT_FALSE(stream->next());

  // With no read under way, a query reads for itself; one for some properties always does.
  services_->setDelay(0ms);
  service_->execQuery("Select * From Kestrava_Unit");
  service_->execQuery("Select Name From Kestrava_Unit");
  EXPECT_EQ(services_->enumerations(), 3u);
}

TEST_F(NotificationTest, RefusedSubscriptions) {
  auto numberOf = [&](const std::string& q) {
    try {
      service_->subscribe(q, [](const EventObject&) {});
    } catch (const ComError& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(numberOf(watchQuery("Nope")), -2147217392);
  EXPECT_EQ(numberOf("Select * From Kestrava_Unit"), -2147217385);
  EXPECT_EQ(numberOf(watchQuery("Kestrava_Unit", "0")), -2147217385);
}

TEST_F(NotificationTest, DestroyingTheServiceWithLiveSubscriptionsEndsCleanly) {
  EventLog log;
  for (int i = 0; i < 3; ++i) service_->subscribe(watchQuery("Kestrava_Unit"), log.callback());
  ASSERT_TRUE(waitForReads(*services_, 2));
  const auto start = std::chrono::steady_clock::now();
  service_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(NotificationPollerLifecycle, ThreadEndsWithTheLastSubscriptionAndRestarts) {
  std::atomic<int> reads{0};
  auto schema = std::make_shared<const ClassSchema>("C", "K", std::vector<std::string>{"K"});
  NotificationPoller poller([&](size_t) {
    ++reads;
    return std::vector<ManagementObject>{ManagementObject(schema)};
  });
  EXPECT_FALSE(poller.threadRunning());
  auto a = poller.add(0, 10ms, [](const EventObject&) {});
  auto b = poller.add(0, 10ms, [](const EventObject&) {});
  EXPECT_TRUE(poller.threadRunning());
  EXPECT_EQ(poller.subscriptionCount(), 2u);
  poller.remove(a);
  EXPECT_TRUE(poller.threadRunning());
  poller.remove(b);
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (poller.threadRunning() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  EXPECT_FALSE(poller.threadRunning());
  const int readsWhenIdle = reads;
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(reads, readsWhenIdle);  // nothing is read with nobody subscribed

  poller.add(0, 10ms, [](const EventObject&) {});
  EXPECT_TRUE(poller.threadRunning());
  while (reads == readsWhenIdle && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  EXPECT_GT(reads, readsWhenIdle);
}

TEST(NotificationPollerLifecycle, LastSubscriberLeavesWhileThePollerWaitsForItsClass) {
  std::atomic<int> reads{0};
  NotificationPoller poller([&](size_t) {
    ++reads;
    return std::vector<ManagementObject>{};
  });
  for (int round = 0; round < 3; ++round) {
    const int before = reads;
    auto id = poller.add(0, std::chrono::hours(1), [](const EventObject&) {});
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (reads == before && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    ASSERT_GT(reads, before);
    std::this_thread::sleep_for(5ms);  // now waiting for the next read, an hour away
    poller.remove(id);                 // the class it waits for is forgotten under it
    while (poller.threadRunning() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(poller.threadRunning());
  }
}

TEST(NotificationPollerLifecycle, ShorterIntervalOfALaterSubscriberWins) {
  std::atomic<int> reads{0};
  auto schema = std::make_shared<const ClassSchema>("C", "K", std::vector<std::string>{"K"});
  NotificationPoller poller([&](size_t) {
    ++reads;
    return std::vector<ManagementObject>{};
  });
  poller.add(0, std::chrono::hours(1), [](const EventObject&) {});
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (reads < 1 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  poller.add(0, 10ms, [](const EventObject&) {});
  while (reads < 4 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_GE(reads, 4);
}

}  // namespace
}  // namespace kestrava::service
