#include "service/LocalService.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <future>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "service/ObjectPath.h"
#include "service/QueryPlan.h"
#include "service/ServiceErrors.h"
#include "service/WqlParser.h"

namespace kestrava::service {

namespace {
// Objects pass from the provider's thread to the query's reader in batches, not one wake-up
// each; a reader that waits looks again after kHandOverWait, so a slow provider's objects are
// not held back.
constexpr size_t kHandOver = 16;
constexpr auto kHandOverWait = std::chrono::milliseconds(1);
// A provider runs at most kBacklog objects ahead of a query's reader: a slow reader slows the
// provider, never the memory. It looks again after kBacklogWait for a call that needs the
// provider meanwhile.
constexpr size_t kBacklog = 256;
constexpr auto kBacklogWait = std::chrono::milliseconds(10);

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

// "Not found", with the path and, when one key of the class is close to the one asked for (the
// same but for case, or it with a suffix: ssh -> ssh.service), that key's path.
ComError notFoundWithHint(ClassProvider& provider, std::string_view objectPath,
                          const std::string& key) {
  std::string description = "Not found: " + std::string(objectPath);
  const SchemaPtr& schema = provider.schema();
  const auto keyIndex = schema->indexOf(schema->keyProperty());
  if (!keyIndex || key.empty()) return ComError(err::kWbemNotFound, description, kServiceSource);
  std::vector<bool> wanted(schema->size(), false);
  wanted[*keyIndex] = true;
  std::optional<std::string> closest;
  try {
    provider.enumerate(PropertySet(std::move(wanted)), [&](ManagementObject&& object) {
      const Value& value = object.at(*keyIndex);
      if (value.kind() != Value::Kind::Text) return true;
      const std::string& candidate = value.asText();
      if (equalsIgnoreCase(candidate, key)) {
        closest = candidate;
        return false;
      }
      if (candidate.size() > key.size() + 1 && candidate[key.size()] == '.' &&
          equalsIgnoreCase(std::string_view(candidate).substr(0, key.size()), key) &&
          (!closest || candidate.size() < closest->size()))
        closest = candidate;
      return true;
    });
  } catch (const std::exception&) {
    // The hint is a courtesy: a listing that fails leaves the plain error.
  }
  if (closest) description += " (did you mean " + schema->className() + "='" + *closest + "'?)";
  return ComError(err::kWbemNotFound, description, kServiceSource);
}

// Starts f on a thread of its own and returns once f has called its `locked` callback (it then
// holds the provider), so calls made after the query was issued come after its read. Where no
// thread can be started, f runs here, to the end.
std::thread startHoldingProvider(std::function<void(const std::function<void()>& locked)> f) {
  std::promise<void> held;
  std::future<void> isHeld = held.get_future();
  auto run = [f = std::move(f)](std::promise<void>& held) {
    bool told = false;
    const auto locked = [&] {
      if (!std::exchange(told, true)) held.set_value();
    };
    f(locked);
    locked();
  };
  try {
    std::thread thread([run, held = std::move(held)]() mutable { run(held); });
    isHeld.wait();
    return thread;
  } catch (const std::system_error&) {
    std::promise<void> here;
    run(here);
    return {};
  }
}

// The objects of a query that reads for itself, handed on as the provider yields them; then the
// failure that cut it short, if any. Ending the stream early stops the enumeration at its next
// object.
class ProducedStream final : public ObjectStream {
 public:
  using Emit = std::function<bool(ManagementObject&&)>;
  using Produce = std::function<void(const std::function<void()>& locked, const Emit& emit)>;

  // contended counts the calls that wait for the provider the query holds.
  ProducedStream(const Produce& produce, const std::atomic<int>& contended)
      : state_(std::make_shared<State>(contended)) {
    thread_ = startHoldingProvider([state = state_, produce](const std::function<void()>& locked) {
      std::optional<ComError> failure;
      try {
        guarded([&] {
          produce(locked, [&](ManagementObject&& o) { return state->push(std::move(o)); });
        });
      } catch (const ComError& e) {
        failure = e;
      }
      state->finish(std::move(failure));
    });
  }
  ~ProducedStream() override {
    state_->cancel();
    if (thread_.joinable()) thread_.join();
  }

  std::optional<ManagementObject> next() override { return state_->pop(); }

 private:
  struct State {
    explicit State(const std::atomic<int>& waiting) : contended(waiting) {}
    const std::atomic<int>& contended;
    std::mutex mutex;
    std::condition_variable changed;
    std::condition_variable room;
    std::deque<ManagementObject> objects;
    bool done = false;
    bool cancelled = false;
    std::optional<ComError> failure;

    bool push(ManagementObject&& object) {
      std::unique_lock lock(mutex);
      while (!cancelled && objects.size() >= kBacklog && contended == 0)
        room.wait_for(lock, kBacklogWait);
      if (cancelled) return false;
      objects.push_back(std::move(object));
      if (objects.size() % kHandOver == 0) changed.notify_one();
      return true;
    }
    void finish(std::optional<ComError> error) {
      std::lock_guard lock(mutex);
      failure = std::move(error);
      done = true;
      changed.notify_one();
    }
    void cancel() {
      std::lock_guard lock(mutex);
      cancelled = true;
      room.notify_one();
    }
    std::optional<ManagementObject> pop() {
      std::unique_lock lock(mutex);
      while (!changed.wait_for(lock, kHandOverWait, [&] { return !objects.empty() || done; })) {
      }
      if (!objects.empty()) {
        ManagementObject object = std::move(objects.front());
        objects.pop_front();
        room.notify_one();
        return object;
      }
      if (failure) {
        ComError error = std::move(*failure);
        failure.reset();
        throw error;
      }
      return std::nullopt;
    }
  };

  std::shared_ptr<State> state_;
  std::thread thread_;
};
}  // namespace

// A Select * that follows a full read as it goes, filtering and shaping each object; then the
// failure that cut the read short, if any.
class LocalService::FullReadStream final : public ObjectStream {
 public:
  // leader: the read's own thread, when this query leads it.
  FullReadStream(std::shared_ptr<FullRead> read, std::shared_ptr<const QueryPlan> plan,
                 std::thread leader)
      : read_(std::move(read)), plan_(std::move(plan)), leader_(std::move(leader)) {}
  ~FullReadStream() override {
    if (!leader_.joinable()) return;
    {
      std::lock_guard lock(read_->mutex);
      read_->abandoned = true;
      if (read_->joiners == 0) read_->joinable = false;  // nobody waits for the rest
      read_->room.notify_all();
    }
    leader_.join();  // a read others joined runs to its end for them
  }

  std::optional<ManagementObject> next() override {
    for (;;) {
      std::unique_lock lock(read_->mutex);
      while (!read_->changed.wait_for(
          lock, kHandOverWait, [&] { return next_ < read_->objects.size() || read_->done; })) {
      }
      if (next_ < read_->objects.size()) {
        ManagementObject object = take(lock);
        if (plan_->matches(object)) return plan_->project(std::move(object));
        continue;
      }
      if (read_->failure && !failed_) {
        failed_ = true;
        throw *read_->failure;
      }
      return std::nullopt;
    }
  }

 private:
  // The next object: taken where nobody else needs it, else a copy.
  ManagementObject take(std::unique_lock<std::mutex>& lock) {
    FullRead& read = *read_;
    ManagementObject& slot = read.objects[next_++];
    if (leader_.joinable()) {
      read.taken = next_;
      read.room.notify_one();
      if (read.joiners == 0) {
        read.joinable = false;
        return std::move(slot);
      }
    } else if (read.done && read_.use_count() == 1) {
      return std::move(slot);
    }
    ManagementObject copy = slot;
    lock.unlock();
    return copy;
  }

  std::shared_ptr<FullRead> read_;
  std::shared_ptr<const QueryPlan> plan_;
  std::thread leader_;
  size_t next_ = 0;
  bool failed_ = false;
};

LocalService::LocalService(ProviderList providers, Options options)
    : options_(options),
      poller_([this](size_t classIndex) { return readAll(classIndex); }, options.clock) {
  for (auto& provider : providers) {
    if (!provider) continue;
    const std::string name = toLowerAscii(provider->schema()->className());
    if (!byName_.emplace(name, entries_.size()).second)
      throw std::invalid_argument("two providers for class " + provider->schema()->className());
    auto entry = std::make_shared<Entry>();
    entry->provider = std::move(provider);
    entries_.push_back(std::move(entry));
  }
}

LocalService::~LocalService() = default;

size_t LocalService::indexOf(std::string_view className) const {
  auto it = byName_.find(toLowerAscii(className));
  if (it == byName_.end()) throw invalidClass(className);
  return it->second;
}

const LocalService::EntryPtr& LocalService::entryFor(std::string_view className) {
  return entries_[indexOf(className)];
}

// The query holds its provider before this returns, so a later call never overtakes it; its
// objects are handed on as the provider yields them.
std::unique_ptr<ObjectStream> LocalService::execQuery(std::string_view wql) {
  const SelectQuery query = WqlParser::parseSelect(wql);
  const EntryPtr entry = entryFor(query.className);
  auto plan = std::make_shared<const QueryPlan>(query, entry->provider->schema());
  if (plan->wanted().wantsAll() && !plan->keyText()) {
    std::shared_ptr<FullRead> polled;
    {
      std::lock_guard lock(entry->readMutex);
      if (!entry->selectedAll && entry->polled &&
          std::chrono::steady_clock::now() - entry->polledAt <= kPolledLifetime)
        polled = std::move(entry->polled);
      entry->polled.reset();
      entry->selectedAll = true;
    }
    if (polled) return std::make_unique<FullReadStream>(polled, plan, std::thread());
    // Plain names, not a structured binding: the lambda below captures them.
    auto joined = joinOrLead(*entry);
    const std::shared_ptr<FullRead> read = joined.first;
    const bool leader = joined.second;
    std::thread leaderThread;
    if (leader)
      leaderThread = startHoldingProvider([entry, read](const std::function<void()>& locked) {
        runFullRead(*entry, *read, true, locked);
      });
    return std::make_unique<FullReadStream>(read, plan, std::move(leaderThread));
  }
  return std::make_unique<ProducedStream>(
      [entry, plan](const std::function<void()>& locked, const ProducedStream::Emit& emit) {
        auto lock = holdProvider(*entry);
        locked();
        const auto keep = [&](ManagementObject&& object) {
          return !plan->matches(object) || emit(plan->project(std::move(object)));
        };
        if (plan->keyText())
          entry->provider->enumerateKey(*plan->keyText(), plan->wanted(), keep);
        else
          entry->provider->enumerate(plan->wanted(), keep);
      },
      entry->waiting);
}

std::pair<LocalService::Entry*, std::string> LocalService::resolvePath(
    std::string_view objectPath) {
  ObjectPath path = ObjectPath::parse(objectPath);
  Entry& entry = *entryFor(path.className);
  if (!path.keyProperty.empty() &&
      !equalsIgnoreCase(path.keyProperty, entry.provider->schema()->keyProperty()))
    throw invalidObjectPath(keyMismatch(*entry.provider->schema(), path.keyProperty));
  return {&entry, std::move(path.key)};
}

ManagementObject LocalService::getObject(std::string_view objectPath) {
  // Plain names, not a structured binding: lambdas below capture them.
  auto resolved = resolvePath(objectPath);
  Entry* entry = resolved.first;
  const std::string& key = resolved.second;
  auto lock = holdProvider(*entry);
  return guarded([&] {
    auto object = entry->provider->get(key);
    if (!object) throw notFoundWithHint(*entry->provider, objectPath, key);
    return std::move(*object);
  });
}

Value LocalService::execMethod(std::string_view objectPath, std::string_view method) {
  auto resolved = resolvePath(objectPath);
  Entry* entry = resolved.first;
  const std::string& key = resolved.second;
  // The next Select * shows what this call left, never a read made before it.
  ++methodCalls_;
  for (const EntryPtr& e : entries_) {
    std::lock_guard lock(e->readMutex);
    e->polled.reset();
  }
  auto lock = holdProvider(*entry);
  return guarded([&] {
    if (!entry->provider->exists(key)) throw notFoundWithHint(*entry->provider, objectPath, key);
    return entry->provider->invoke(key, method);
  });
}

SubscriptionId LocalService::subscribe(std::string_view notificationQuery, EventCallback callback) {
  const NotificationQuery query = WqlParser::parseNotification(notificationQuery);
  const size_t classIndex = indexOf(query.targetClass);
  EventInterest interest{query.eventClass, nullptr};
  if (query.condition)
    interest.condition = std::make_shared<const QueryFilter>(
        *query.condition, *entries_[classIndex]->provider->schema());
  using Seconds = std::chrono::duration<double>;
  const Seconds shortest = options_.shortestInterval, longest = options_.longestInterval;
  const Seconds within{std::clamp(query.withinSeconds, shortest.count(), longest.count())};
  return poller_.add(classIndex,
                     std::chrono::duration_cast<NotificationPoller::Clock::duration>(within),
                     std::move(callback), std::move(interest));
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
  const std::shared_ptr<FullRead> read = fullReadOnce(classIndex);
  std::lock_guard lock(read->mutex);
  if (read->failure) throw *read->failure;
  return read->objects;
}

std::shared_ptr<LocalService::FullRead> LocalService::fullReadOnce(size_t classIndex) {
  Entry& entry = *entries_[classIndex];
  const uint64_t calls = methodCalls_;
  auto joined = joinOrLead(entry);
  const std::shared_ptr<FullRead> read = joined.first;
  const bool leader = joined.second;
  if (leader) runFullRead(entry, *read, false, [] {});
  {
    std::unique_lock lock(read->mutex);
    read->changed.wait(lock, [&] { return read->done; });
    if (read->failure) return read;
  }
  if (leader) {
    std::lock_guard keep(entry.readMutex);
    if (calls == methodCalls_ && !entry.selectedAll) {
      entry.polled = read;
      entry.polledAt = std::chrono::steady_clock::now();
    }
  }
  return read;
}

void LocalService::readAhead(const std::vector<std::string>& queries) {
  // One query named is run by its caller right away: read ahead, it would only be copied.
  if (queries.size() < 2) return;
  for (const std::string& wql : queries) {
    size_t index;
    try {
      const SelectQuery query = WqlParser::parseSelect(wql);
      index = indexOf(query.className);
      const QueryPlan plan(query, entries_[index]->provider->schema());
      if (!plan.wanted().wantsAll() || plan.keyText()) continue;
    } catch (const ComError&) {
      continue;  // the query itself will say what is wrong with it
    }
    {
      Entry& entry = *entries_[index];
      std::lock_guard lock(entry.readMutex);
      if (entry.selectedAll || entry.polled) continue;
    }
    ahead_.emplace_back([this, index](std::stop_token stop) {
      if (stop.stop_requested()) return;
      try {
        fullReadOnce(index);
      } catch (...) {  // the query reads anew, and reports what went wrong itself
      }
    });
  }
}

std::unique_lock<std::mutex> LocalService::holdProvider(Entry& entry) {
  ++entry.waiting;
  std::unique_lock lock(entry.mutex);
  --entry.waiting;
  return lock;
}

std::pair<std::shared_ptr<LocalService::FullRead>, bool> LocalService::joinOrLead(Entry& entry) {
  std::lock_guard lock(entry.readMutex);
  if (entry.fullRead) {
    std::lock_guard readLock(entry.fullRead->mutex);
    if (entry.fullRead->joinable) {
      ++entry.fullRead->joiners;
      return {entry.fullRead, false};
    }
  }
  entry.fullRead = std::make_shared<FullRead>();
  return {entry.fullRead, true};
}

void LocalService::runFullRead(Entry& entry, FullRead& read, bool streamed,
                               const std::function<void()>& locked) {
  auto providerLock = holdProvider(entry);
  locked();
  std::optional<ComError> failure;
  try {
    guarded([&] {
      entry.provider->enumerate(PropertySet::all(), [&](ManagementObject&& object) {
        std::unique_lock lock(read.mutex);
        read.objects.push_back(std::move(object));
        if (read.objects.size() % kHandOver == 0) read.changed.notify_all();
        // A query's read that nobody joined early on stays its own, and the query sets the pace.
        if (streamed && read.joiners == 0 && read.objects.size() >= kBacklog) read.joinable = false;
        while (!read.joinable && !read.abandoned && entry.waiting == 0 &&
               read.objects.size() - read.taken >= kBacklog)
          read.room.wait_for(lock, kBacklogWait);
        return read.joinable || !read.abandoned;
      });
    });
  } catch (const ComError& e) {
    failure = e;
  }
  {
    // Withdrawn while the provider is still held: a call made after an earlier call on this
    // connection (a method, say) never joins a read that began before it.
    std::lock_guard lock(entry.readMutex);
    if (entry.fullRead.get() == &read) entry.fullRead.reset();
  }
  std::lock_guard lock(read.mutex);
  read.failure = std::move(failure);
  read.done = true;
  read.changed.notify_all();
}

}  // namespace kestrava::service
