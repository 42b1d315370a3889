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
#include "service/core/ManualClock.h"

namespace kestrava::service {
namespace {

using namespace std::chrono_literals;
using testing::FakeProvider;
using testing::ManualClock;

constexpr auto kInterval = 50ms;
constexpr auto kPatience = 5s;  // real time, for what another thread does at once

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

// Waits (bounded) until a condition that another thread makes true holds.
template <typename Condition>
bool eventually(Condition&& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
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
    LocalService::Options options;
    options.clock = clock_;
    service_ = std::make_unique<LocalService>(std::move(providers), options);
  }

  // Subscribes and waits until the poller has read the class's baseline and sleeps again.
  SubscriptionId watch(const std::string& target, EventCallback callback,
                       const char* within = "0.05") {
    SubscriptionId id = 0;
    EXPECT_TRUE(clock_->settle(
        [&] { id = service_->subscribe(watchQuery(target, within), std::move(callback)); }));
    return id;
  }
  // Moves the poller's time on by whole intervals, one at a time.
  void intervals(int count) {
    for (int i = 0; i < count; ++i) ASSERT_TRUE(clock_->advanceAndSettle(kInterval));
  }

  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  FakeProvider* services_ = nullptr;
  FakeProvider* disks_ = nullptr;
  std::unique_ptr<LocalService> service_;
};

TEST_F(NotificationTest, AModificationIsDeliveredAtTheNextIntervalWithTargetAndPrevious) {
  EventLog log;
  watch("Kestrava_Unit", log.callback());
  EXPECT_EQ(services_->enumerations(), 1u);  // the baseline, read at once
  services_->setValue(1, "State", Value::text("Running"));
  ASSERT_TRUE(clock_->advanceAndSettle(kInterval - 1ms));
  EXPECT_EQ(services_->enumerations(), 1u) << "read before the interval was over";
  EXPECT_EQ(log.size(), 0u);
  ASSERT_TRUE(clock_->advanceAndSettle(1ms));
  ASSERT_EQ(log.size(), 1u);
  auto e = log.events().front();
  EXPECT_EQ(e.className, "__InstanceModificationEvent");
  EXPECT_EQ(e.target.get("Name"), Value::text("b.service"));
  EXPECT_EQ(e.target.get("State"), Value::text("Running"));
  EXPECT_EQ(e.previous.get("State"), Value::text("Stopped"));
  // Unchanged instances and later unchanged reads deliver nothing more.
  intervals(3);
  EXPECT_EQ(services_->enumerations(), 5u);
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(NotificationTest, CreationsAndDeletionsGoToTheirOwnSubscribersWhoseConditionTheyMeet) {
  EventLog modified, created, deleted;
  watch("Kestrava_Unit", modified.callback());
  ASSERT_TRUE(clock_->settle([&] {
    service_->subscribe(
        "Select * From __InstanceCreationEvent Within 0.05 Where TargetInstance "
        "Isa 'Kestrava_Unit' And TargetInstance.Name Like 'c%'",
        created.callback());
    // No Within: the class is still read at the shortest interval its subscribers asked for.
    service_->subscribe(
        "Select * From __InstanceDeletionEvent Where TargetInstance Isa 'Kestrava_Unit'",
        deleted.callback());
  }));
  services_->setRows({{{"Name", Value::text("a.service")}, {"State", Value::text("Running")}},
                      {{"Name", Value::text("c.service")}, {"State", Value::text("Running")}},
                      {{"Name", Value::text("d.service")}, {"State", Value::text("Running")}}});
  intervals(2);
  EXPECT_EQ(modified.size(), 0u);
  ASSERT_EQ(created.size(), 1u) << "d.service does not meet the condition";
  EXPECT_EQ(created.events()[0].className, "__InstanceCreationEvent");
  EXPECT_EQ(created.events()[0].target.get("Name"), Value::text("c.service"));
  EXPECT_FALSE(created.events()[0].previous.schema());
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted.events()[0].className, "__InstanceDeletionEvent");
  EXPECT_EQ(deleted.events()[0].target.get("State"), Value::text("Stopped")) << "as last read";
}

TEST_F(NotificationTest, OneReadPerIntervalHoweverManySubscriptions) {
  EventLog log;
  for (int i = 0; i < 17; ++i) watch("Kestrava_Unit", log.callback());
  EXPECT_EQ(services_->enumerations(), 1u) << "a later subscriber reads the class again";
  intervals(5);
  EXPECT_EQ(services_->enumerations(), 6u);

  services_->setValue(0, "State", Value::text("Stopped"));
  intervals(1);
  EXPECT_EQ(log.size(), 17u);  // one event per subscription
  intervals(2);
  EXPECT_EQ(log.size(), 17u);             // and not more
  EXPECT_EQ(disks_->enumerations(), 0u);  // a class nobody watches is not read
}

TEST_F(NotificationTest, EachWatchedClassIsReadAtItsOwnIntervalAndDeliveredToItsOwnSubscribers) {
  EventLog units, disks;
  watch("Kestrava_Unit", units.callback());
  watch("kestrava_disk", disks.callback(), "0.2");
  disks_->setValue(0, "Free", Value::text("90"));
  intervals(3);
  EXPECT_EQ(services_->enumerations(), 4u);
  EXPECT_EQ(disks_->enumerations(), 1u);
  EXPECT_EQ(disks.size(), 0u);
  intervals(1);
  EXPECT_EQ(disks_->enumerations(), 2u);
  ASSERT_EQ(disks.size(), 1u);
  EXPECT_EQ(disks.events()[0].target.get("Free"), Value::text("90"));
  EXPECT_EQ(units.size(), 0u);
}

TEST_F(NotificationTest, CancelStopsDeliveryAndUnknownIdsAreIgnored) {
  EventLog kept, cancelled;
  watch("Kestrava_Unit", kept.callback());
  SubscriptionId id = watch("Kestrava_Unit", cancelled.callback());
  service_->cancel(id);
  service_->cancel(id);
  service_->cancel(987654);
  services_->setValue(0, "State", Value::text("Stopped"));
  intervals(2);
  EXPECT_EQ(kept.size(), 1u);
  EXPECT_EQ(cancelled.size(), 0u);
}

TEST_F(NotificationTest, NoCallbackRunsAfterCancelReturns) {
  std::atomic<bool> inCallback{false};
  std::atomic<int> calls{0};
  std::atomic<bool> entered{false};
  EventLog other;  // keeps the class watched after the cancel
  watch("Kestrava_Unit", other.callback());
  SubscriptionId id = watch("Kestrava_Unit", [&](const EventObject&) {
    inCallback = true;
    entered = true;
    std::this_thread::sleep_for(50ms);  // a slow sink, for cancel to meet it running
    ++calls;
    inCallback = false;
  });
  services_->setValue(0, "State", Value::text("Stopped"));
  clock_->advance(kInterval);  // delivered on the poller's thread while this one cancels
  ASSERT_TRUE(eventually([&] { return entered.load(); }));
  service_->cancel(id);
  EXPECT_FALSE(inCallback);
  const int callsAtCancel = calls;
  services_->setValue(0, "State", Value::text("Running"));
  intervals(2);
  EXPECT_EQ(other.size(), 2u);
  EXPECT_EQ(calls, callsAtCancel);
}

TEST_F(NotificationTest, CallbackMayCancelItselfAndSubscribeAgain) {
  EventLog log;
  std::atomic<SubscriptionId> own{0};
  std::atomic<int> calls{0};
  own = watch("Kestrava_Unit", [&](const EventObject&) {
    ++calls;
    service_->cancel(own);
    service_->subscribe(watchQuery("Kestrava_Unit"), log.callback());
  });
  services_->setValue(0, "State", Value::text("Stopped"));
  intervals(1);
  services_->setValue(0, "State", Value::text("Running"));
  intervals(1);
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(calls, 1);
}

TEST_F(NotificationTest, AFailedReadSkipsOnePollAndDeliveryGoesOn) {
  EventLog log;
  watch("Kestrava_Unit", log.callback());
  services_->failAfter(0, ComError(err::kWbemFailed, "Generic failure"));
  intervals(2);
  EXPECT_EQ(services_->enumerations(), 3u) << "a failed read stopped the polling";
  services_->clearFailure();
  services_->setValue(1, "State", Value::text("Running"));
  intervals(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log.events()[0].previous.get("State"), Value::text("Stopped"));
}

TEST_F(NotificationTest, ASelectStarMeetingThePollersReadSharesIt) {
  services_->setDelay(300ms);  // a slow source, such as init scripts
  EventLog log;
  service_->subscribe(watchQuery("Kestrava_Unit", "60"), log.callback());
  ASSERT_TRUE(eventually([&] { return services_->enumerations() > 0; }));
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

// The view build subscribes before it queries: its Select * takes the read its subscription
// made, once. A later Select * (a refill after a service action) and one after a method call
// read anew.
TEST_F(NotificationTest, TheFirstSelectStarTakesTheSubscriptionsFinishedReadOnce) {
  EventLog log;
  watch("Kestrava_Unit", log.callback(), "60");
  ASSERT_EQ(services_->enumerations(), 1u);  // the baseline, done
  services_->setValue(0, "State", Value::text("Stopped"));
  auto first = service_->execQuery("Select * From Kestrava_Unit");
  ASSERT_TRUE(first->next());
  EXPECT_EQ(services_->enumerations(), 1u) << "the subscription's read was not taken";
  service_->execQuery("Select * From Kestrava_Unit")->next();
  EXPECT_EQ(services_->enumerations(), 2u) << "a second Select * took an old read";

  SetUp();  // a new connection whose first call after the baseline is a method
  watch("Kestrava_Unit", log.callback(), "60");
  ASSERT_EQ(services_->enumerations(), 1u);
  EXPECT_THROW(service_->execMethod("Kestrava_Unit='a.service'", "Stop"), ComError);
  const size_t afterMethod = services_->enumerations();  // finding the instance may read
  auto after = service_->execQuery("Select * From Kestrava_Unit");
  after->next();
  EXPECT_EQ(services_->enumerations(), afterMethod + 1)
      << "a read from before the method was shown";
}

// The view build names its queries right after the connect: their reads go on at once, and the
// first Select * of the class takes its read, once; a method call in between drops it.
TEST_F(NotificationTest, AReadAheadIsTakenOnceAndNeverAfterAMethodCall) {
  auto readsReach = [&](size_t n) {
    for (int i = 0; i < 500 && services_->enumerations() < n; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return services_->enumerations() == n;
  };
  service_->readAhead({"Select * From Kestrava_Unit", "Select Name From Kestrava_Unit"});
  ASSERT_TRUE(readsReach(1)) << "nothing was read ahead";
  auto first = service_->execQuery("Select * From Kestrava_Unit");
  ASSERT_TRUE(first->next());
  EXPECT_EQ(services_->enumerations(), 1u) << "the read ahead was not taken";
  service_->execQuery("Select * From Kestrava_Unit")->next();
  EXPECT_EQ(services_->enumerations(), 2u) << "a second Select * took an old read";

  SetUp();  // a new connection: a method call between the read ahead and the query
  service_->readAhead({"Select * From Kestrava_Unit", "Select Name From Kestrava_Unit"});
  ASSERT_TRUE(readsReach(1));
  EXPECT_THROW(service_->execMethod("Kestrava_Unit='a.service'", "Stop"), ComError);
  const size_t afterMethod = services_->enumerations();
  service_->execQuery("Select * From Kestrava_Unit")->next();
  EXPECT_EQ(services_->enumerations(), afterMethod + 1)
      << "a read from before the method was shown";
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
  EXPECT_EQ(numberOf(watchQuery("Kestrava_Unit") + " And TargetInstance.Nope = 1"), -2147217385);
}

TEST_F(NotificationTest, DestroyingTheServiceWithLiveSubscriptionsEndsCleanly) {
  EventLog log;
  for (int i = 0; i < 3; ++i) watch("Kestrava_Unit", log.callback());
  intervals(1);
  const auto start = std::chrono::steady_clock::now();
  service_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(NotificationPollerLifecycle, ThreadEndsWithTheLastSubscriptionAndRestarts) {
  auto clock = std::make_shared<ManualClock>();
  std::atomic<int> reads{0};
  auto schema = std::make_shared<const ClassSchema>("C", "K", std::vector<std::string>{"K"});
  NotificationPoller poller(
      [&](size_t) {
        ++reads;
        return std::vector<ManagementObject>{ManagementObject(schema)};
      },
      clock);
  EXPECT_FALSE(poller.threadRunning());
  SubscriptionId a = 0, b = 0;
  ASSERT_TRUE(clock->settle([&] { a = poller.add(0, 10ms, [](const EventObject&) {}); }));
  ASSERT_TRUE(clock->settle([&] { b = poller.add(0, 10ms, [](const EventObject&) {}); }));
  EXPECT_TRUE(poller.threadRunning());
  EXPECT_EQ(poller.subscriptionCount(), 2u);
  poller.remove(a);
  EXPECT_TRUE(poller.threadRunning());
  poller.remove(b);
  ASSERT_TRUE(eventually([&] { return !poller.threadRunning(); }));
  const int readsWhenIdle = reads;
  clock->advance(1h);
  EXPECT_EQ(reads, readsWhenIdle);  // nothing is read with nobody subscribed

  ASSERT_TRUE(clock->settle([&] { poller.add(0, 10ms, [](const EventObject&) {}); }));
  EXPECT_TRUE(poller.threadRunning());
  EXPECT_EQ(reads, readsWhenIdle + 1);
}

TEST(NotificationPollerLifecycle, LastSubscriberLeavesWhileThePollerWaitsForItsClass) {
  auto clock = std::make_shared<ManualClock>();
  std::atomic<int> reads{0};
  NotificationPoller poller(
      [&](size_t) {
        ++reads;
        return std::vector<ManagementObject>{};
      },
      clock);
  for (int round = 0; round < 3; ++round) {
    SubscriptionId id = 0;
    // Read once, then waiting for the next read, an hour away.
    ASSERT_TRUE(clock->settle([&] { id = poller.add(0, 1h, [](const EventObject&) {}); }));
    EXPECT_EQ(reads, round + 1);
    poller.remove(id);  // the class it waits for is forgotten under it
    ASSERT_TRUE(eventually([&] { return !poller.threadRunning(); }));
  }
}

TEST(NotificationPollerLifecycle, ShorterIntervalOfALaterSubscriberWins) {
  auto clock = std::make_shared<ManualClock>();
  std::atomic<int> reads{0};
  NotificationPoller poller(
      [&](size_t) {
        ++reads;
        return std::vector<ManagementObject>{};
      },
      clock);
  ASSERT_TRUE(clock->settle([&] { poller.add(0, 1h, [](const EventObject&) {}); }));
  ASSERT_TRUE(clock->settle([&] { poller.add(0, 10ms, [](const EventObject&) {}); }));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(clock->advanceAndSettle(10ms));
  EXPECT_EQ(reads, 4);
}

}  // namespace
}  // namespace kestrava::service
