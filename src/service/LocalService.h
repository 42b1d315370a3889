#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/Connection.h"
#include "service/ClassProvider.h"
#include "service/NotificationPoller.h"

namespace kestrava::service {

// The management service of this computer: answers the connection seam from a list of class
// providers. Queries are parsed and bound once, the provider is asked only for the properties
// the query needs, and the objects are filtered and shaped before they are streamed back.
// Subscriptions share one poller per connection. Providers are called one call at a time each
// (the poller's thread and the caller's thread take turns), different providers in parallel.
class LocalService final : public Connection {
 public:
  struct Options {
    // Bounds on a notification query's Within: no busy polling, no overflowing clock.
    std::chrono::milliseconds shortestInterval{10};
    std::chrono::hours longestInterval{24};
    // What the poller schedules its reads by; the steady clock when null.
    std::shared_ptr<PollerClock> clock;
  };

  explicit LocalService(ProviderList providers) : LocalService(std::move(providers), Options()) {}
  LocalService(ProviderList providers, Options options);
  ~LocalService() override;

  std::unique_ptr<ObjectStream> execQuery(std::string_view wql) override;
  ManagementObject getObject(std::string_view objectPath) override;
  Value execMethod(std::string_view objectPath, std::string_view method) override;
  SubscriptionId subscribe(std::string_view notificationQuery, EventCallback callback) override;
  void cancel(SubscriptionId id) override;
  std::vector<SchemaPtr> classes() override;
  // Starts, each on a thread of its own, the full reads of the named Select * queries (two or
  // more; one is left to its caller), so that they go on in parallel while the caller works
  // through them one by one. The first Select * of each class on this connection takes its
  // read, as it takes the poller's; a method call drops them.
  void readAhead(const std::vector<std::string>& queries) override;

 private:
  // One read of every instance with every property, shared by the callers that meet it: the
  // poller's read and a Select * that overlap do the work once. Objects are added as the
  // provider yields them, so a query hands each on as soon as it is there. A read that a query
  // leads, and that nobody joined before the query took its first object, can no longer be
  // joined: the query then takes its objects instead of copying them, and sets the pace.
  struct FullRead {
    std::mutex mutex;
    std::condition_variable changed;  // objects came, or the read is done
    std::condition_variable room;     // the leading query took objects, or gave up
    bool done = false;
    std::vector<ManagementObject> objects;
    std::optional<ComError> failure;  // the objects before it are still good
    size_t joiners = 0;
    bool joinable = true;
    size_t taken = 0;        // objects the leading query has handed on
    bool abandoned = false;  // the leading query ended early
  };
  struct Entry {
    std::unique_ptr<ClassProvider> provider;
    std::mutex mutex;                    // one call at a time per provider
    std::atomic<int> waiting{0};         // calls waiting for the provider
    std::mutex readMutex;                // guards fullRead and polled
    std::shared_ptr<FullRead> fullRead;  // the full read under way, if any
    // The poller's last full read, or the one read ahead, done, for the first Select * of the
    // class on this connection: the view build subscribes before it queries, so the Services
    // list takes the read its subscription began instead of asking systemd again. Any later Select
    // * (a refill after a service action) reads anew; a method call, or age, drops it.
    std::shared_ptr<FullRead> polled;
    std::chrono::steady_clock::time_point polledAt;
    bool selectedAll = false;  // a Select * of the class has run on this connection
  };
  using EntryPtr = std::shared_ptr<Entry>;  // shared with the streams, which may outlive this
  class FullReadStream;

  const EntryPtr& entryFor(std::string_view className);
  size_t indexOf(std::string_view className) const;
  std::pair<Entry*, std::string> resolvePath(std::string_view objectPath);
  std::vector<ManagementObject> readAll(size_t classIndex);
  // One full read of the class, done: joined when one is under way, else led here; a led read
  // made before any method call is kept for the first Select * of the class.
  std::shared_ptr<FullRead> fullReadOnce(size_t classIndex);
  // Takes the provider. A query that holds it and waits for its reader to catch up stops
  // waiting while a call waits here, so a reader that calls again first is never stuck.
  static std::unique_lock<std::mutex> holdProvider(Entry& entry);
  // The full read under way, or a new one and true: the caller is to run it.
  static std::pair<std::shared_ptr<FullRead>, bool> joinOrLead(Entry& entry);
  // Runs a full read this caller leads; locked() is called once the provider is held. A read
  // that a query streams (streamed) may become the query's alone.
  static void runFullRead(Entry& entry, FullRead& read, bool streamed,
                          const std::function<void()>& locked);

  // The oldest poller or read-ahead read a Select * may take instead of reading anew.
  static constexpr std::chrono::seconds kPolledLifetime{5};

  Options options_;
  std::atomic<uint64_t> methodCalls_{0};  // a poller read that began before a call is no answer
  std::vector<EntryPtr> entries_;
  std::unordered_map<std::string, size_t> byName_;  // lower-case class name -> entry
  NotificationPoller poller_;                       // stops before the providers go
  std::vector<std::jthread> ahead_;                 // last: the reads ahead end first
};

}  // namespace kestrava::service
