#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/Connection.h"
#include "service/PollerClock.h"
#include "service/QueryFilter.h"

namespace kestrava::service {

// What one subscription wants of its class's events.
struct EventInterest {
  std::string eventClass = "__InstanceModificationEvent";
  std::shared_ptr<const QueryFilter> condition;  // on the target; null for every instance
};

// Watches classes for created, deleted and modified instances on behalf of any number of
// subscriptions, with one thread. Each class that has subscribers is read once per interval (the
// shortest interval its subscribers asked for), however many subscribers it has. Against the
// previous read, an instance whose values changed is an __InstanceModificationEvent, a new key an
// __InstanceCreationEvent and a key gone an __InstanceDeletionEvent (its target the instance as
// last read); each goes to the subscribers of that class and that kind of event whose condition
// the target meets.
//
// The thread starts with the first subscription and ends when none is left, or on destruction.
// Callbacks run on that thread; remove() returns only once no callback of that subscription can
// run any more (unless it is called from a callback, which cannot wait for itself).
class NotificationPoller {
 public:
  using Clock = std::chrono::steady_clock;
  // Reads every instance of a class, all properties; may throw (that poll is then skipped).
  using Reader = std::function<std::vector<ManagementObject>(size_t classIndex)>;

  // Reads are scheduled by the clock; the steady clock when none is given.
  explicit NotificationPoller(Reader reader, std::shared_ptr<PollerClock> clock = nullptr);
  ~NotificationPoller();
  NotificationPoller(const NotificationPoller&) = delete;
  NotificationPoller& operator=(const NotificationPoller&) = delete;

  SubscriptionId add(size_t classIndex, Clock::duration interval, EventCallback callback,
                     EventInterest interest = {});
  // Unknown ids are ignored.
  void remove(SubscriptionId id);

  size_t subscriptionCount() const;
  bool threadRunning() const;

 private:
  struct Subscription {
    size_t classIndex;
    Clock::duration interval;
    std::shared_ptr<const EventCallback> callback;
    EventInterest interest;
  };
  struct Watched {
    Clock::duration interval{};
    Clock::time_point nextDue{};
    bool hasSnapshot = false;
    std::unordered_map<std::string, ManagementObject> snapshot;  // by key text
  };

  void run();
  void pollOnce(size_t classIndex, std::unique_lock<std::mutex>& lock);
  std::vector<EventObject> compare(Watched& watched, std::vector<ManagementObject> objects);
  void deliver(size_t classIndex, const std::vector<EventObject>& events,
               std::unique_lock<std::mutex>& lock);
  void recomputeInterval(size_t classIndex);

  Reader reader_;
  std::shared_ptr<PollerClock> clock_;
  mutable std::mutex mutex_;
  std::condition_variable wakeup_;     // a subscription came or went, or stopping
  std::condition_variable delivered_;  // a callback returned
  std::map<SubscriptionId, Subscription> subscriptions_;
  std::map<size_t, Watched> watched_;
  SubscriptionId nextId_ = 0;
  SubscriptionId delivering_ = 0;  // the subscription whose callback runs now, 0 for none
  bool running_ = false;
  bool stopping_ = false;
  std::thread thread_;
  std::thread::id threadId_;
};

}  // namespace kestrava::service
