#include "service/LocalService.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "service/ObjectPath.h"
#include "service/QueryPlan.h"
#include "service/ServiceErrors.h"
#include "service/WqlParser.h"

namespace kestrava::service {

namespace {
// Hands out the objects that a query gathered, then the failure that cut it short, if any.
class GatheredStream final : public ObjectStream {
 public:
  GatheredStream(std::vector<ManagementObject> objects, std::optional<ComError> failure)
      : objects_(std::move(objects)), failure_(std::move(failure)) {}

  std::optional<ManagementObject> next() override {
    if (next_ < objects_.size()) return std::move(objects_[next_++]);
    if (failure_) {
      ComError failure = std::move(*failure_);
      failure_.reset();
      throw failure;
    }
    return std::nullopt;
  }

 private:
  std::vector<ManagementObject> objects_;
  size_t next_ = 0;
  std::optional<ComError> failure_;
};

// Nothing but ComError leaves the service: anything else a provider throws is a generic failure.
template <typename F>
auto guarded(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const ComError&) {
    throw;
  } catch (const std::exception&) {
    throw genericFailure();
  }
}
}  // namespace

LocalService::LocalService(ProviderList providers, Options options)
    : options_(options), poller_([this](size_t classIndex) { return readAll(classIndex); }) {
  for (auto& provider : providers) {
    if (!provider) continue;
    const std::string name = toLowerAscii(provider->schema()->className());
    if (!byName_.emplace(name, entries_.size()).second)
      throw std::invalid_argument("two providers for class " + provider->schema()->className());
    auto entry = std::make_unique<Entry>();
    entry->provider = std::move(provider);
    entries_.push_back(std::move(entry));
  }
}

LocalService::~LocalService() = default;

size_t LocalService::indexOf(std::string_view className) const {
  auto it = byName_.find(toLowerAscii(className));
  if (it == byName_.end()) throw invalidClass();
  return it->second;
}

LocalService::Entry& LocalService::entryFor(std::string_view className) {
  return *entries_[indexOf(className)];
}

std::unique_ptr<ObjectStream> LocalService::execQuery(std::string_view wql) {
  const SelectQuery query = WqlParser::parseSelect(wql);
  Entry& entry = entryFor(query.className);
  const QueryPlan plan(query, entry.provider->schema());
  std::vector<ManagementObject> objects;
  std::optional<ComError> failure;
  if (plan.wanted().wantsAll()) {
    FullReadResult read = readEverything(entry);
    for (auto& object : read.objects)
      if (plan.matches(object)) objects.push_back(plan.project(std::move(object)));
    failure = std::move(read.failure);
  } else {
    try {
      std::lock_guard lock(entry.mutex);
      guarded([&] {
        entry.provider->enumerate(plan.wanted(), [&](ManagementObject&& object) {
          if (plan.matches(object)) objects.push_back(plan.project(std::move(object)));
          return true;
        });
      });
    } catch (const ComError& e) {
      failure = e;  // the objects read so far still come through, then this
    }
  }
  return std::make_unique<GatheredStream>(std::move(objects), std::move(failure));
}

void LocalService::execQueryInto(std::string_view wql, ObjectSink& sink) {
  const SelectQuery query = WqlParser::parseSelect(wql);
  Entry& entry = entryFor(query.className);
  const QueryPlan plan(query, entry.provider->schema());
  sink.accepted();
  std::shared_ptr<FullRead> shared;
  if (plan.wanted().wantsAll()) {
    std::lock_guard lock(entry.readMutex);
    shared = entry.fullRead;
  }
  if (shared) {
    FullReadResult read = readEverything(entry);
    for (auto& object : read.objects)
      if (plan.matches(object) && !sink.object(plan.project(std::move(object)))) return;
    if (read.failure) throw *read.failure;
    return;
  }
  std::lock_guard lock(entry.mutex);
  guarded([&] {
    entry.provider->enumerate(plan.wanted(), [&](ManagementObject&& object) {
      return !plan.matches(object) || sink.object(plan.project(std::move(object)));
    });
  });
}

std::pair<LocalService::Entry*, std::string> LocalService::resolvePath(
    std::string_view objectPath) {
  ObjectPath path = ObjectPath::parse(objectPath);
  Entry& entry = entryFor(path.className);
  if (!path.keyProperty.empty() &&
      !equalsIgnoreCase(path.keyProperty, entry.provider->schema()->keyProperty()))
    throw invalidObjectPath();
  return {&entry, std::move(path.key)};
}

ManagementObject LocalService::getObject(std::string_view objectPath) {
  // Plain names, not a structured binding: lambdas below capture them.
  auto resolved = resolvePath(objectPath);
  Entry* entry = resolved.first;
  const std::string& key = resolved.second;
  std::lock_guard lock(entry->mutex);
  auto object = guarded([&] { return entry->provider->get(key); });
  if (!object) throw notFound();
  return std::move(*object);
}

Value LocalService::execMethod(std::string_view objectPath, std::string_view method) {
  auto resolved = resolvePath(objectPath);
  Entry* entry = resolved.first;
  const std::string& key = resolved.second;
  std::lock_guard lock(entry->mutex);
  return guarded([&] {
    if (!entry->provider->exists(key)) throw notFound();
    return entry->provider->invoke(key, method);
  });
}

SubscriptionId LocalService::subscribe(std::string_view notificationQuery, EventCallback callback) {
  const NotificationQuery query = WqlParser::parseNotification(notificationQuery);
  const size_t classIndex = indexOf(query.targetClass);
  using Seconds = std::chrono::duration<double>;
  const Seconds shortest = options_.shortestInterval, longest = options_.longestInterval;
  const Seconds within{std::clamp(query.withinSeconds, shortest.count(), longest.count())};
  return poller_.add(classIndex,
                     std::chrono::duration_cast<NotificationPoller::Clock::duration>(within),
                     std::move(callback));
}

void LocalService::cancel(SubscriptionId id) {
  poller_.remove(id);
}

std::vector<SchemaPtr> LocalService::classes() {
  std::vector<SchemaPtr> out;
  for (const auto& entry : entries_) out.push_back(entry->provider->schema());
  return out;
}

std::vector<ManagementObject> LocalService::readAll(size_t classIndex) {
  FullReadResult read = readEverything(*entries_[classIndex]);
  if (read.failure) throw *read.failure;
  return std::move(read.objects);
}

LocalService::FullReadResult LocalService::readEverything(Entry& entry) {
  std::shared_ptr<FullRead> read;
  bool leader = false;
  {
    std::lock_guard lock(entry.readMutex);
    if (!entry.fullRead) {
      entry.fullRead = std::make_shared<FullRead>();
      leader = true;
    }
    read = entry.fullRead;
  }
  if (!leader) {
    std::unique_lock lock(read->mutex);
    read->finished.wait(lock, [&] { return read->done; });
    return {read->objects, read->failure};
  }
  {
    std::lock_guard providerLock(entry.mutex);
    try {
      guarded([&] {
        entry.provider->enumerate(PropertySet::all(), [&](ManagementObject&& object) {
          read->objects.push_back(std::move(object));
          return true;
        });
      });
    } catch (const ComError& e) {
      read->failure = e;
    }
    // Withdrawn while the provider is still held: a call made after an earlier call on this
    // connection (a method, say) never joins a read that began before it.
    std::lock_guard lock(entry.readMutex);
    entry.fullRead.reset();
  }
  std::lock_guard lock(read->mutex);
  read->done = true;
  read->finished.notify_all();
  // Nobody joined (and nobody can any more): the objects are this caller's to take.
  if (read.use_count() == 1) return {std::move(read->objects), std::move(read->failure)};
  return {read->objects, read->failure};
}

}  // namespace kestrava::service
