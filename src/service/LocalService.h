#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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
  };

  explicit LocalService(ProviderList providers) : LocalService(std::move(providers), Options()) {}
  LocalService(ProviderList providers, Options options);
  ~LocalService() override;

  std::unique_ptr<ObjectStream> execQuery(std::string_view wql) override;
  // Hands each object on as its provider yields it, holding none (but for a Select * that meets
  // the poller's read of its class, which it shares as execQuery does).
  void execQueryInto(std::string_view wql, ObjectSink& sink) override;
  ManagementObject getObject(std::string_view objectPath) override;
  Value execMethod(std::string_view objectPath, std::string_view method) override;
  SubscriptionId subscribe(std::string_view notificationQuery, EventCallback callback) override;
  void cancel(SubscriptionId id) override;
  std::vector<SchemaPtr> classes() override;

 private:
  // One read of every instance with every property, shared by the callers that meet it: the
  // poller's read and a Select * that overlap do the work once.
  struct FullRead {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::vector<ManagementObject> objects;
    std::optional<ComError> failure;
  };
  struct FullReadResult {
    std::vector<ManagementObject> objects;
    std::optional<ComError> failure;  // the objects before it are still good
  };
  struct Entry {
    std::unique_ptr<ClassProvider> provider;
    std::mutex mutex;                    // one call at a time per provider
    std::mutex readMutex;                // guards fullRead
    std::shared_ptr<FullRead> fullRead;  // the full read under way, if any
  };

  Entry& entryFor(std::string_view className);
  size_t indexOf(std::string_view className) const;
  std::pair<Entry*, std::string> resolvePath(std::string_view objectPath);
  std::vector<ManagementObject> readAll(size_t classIndex);
  FullReadResult readEverything(Entry& entry);

  Options options_;
  std::vector<std::unique_ptr<Entry>> entries_;
  std::unordered_map<std::string, size_t> byName_;  // lower-case class name -> entry
  NotificationPoller poller_;                       // last: stops before the providers go
};

}  // namespace kestrava::service
