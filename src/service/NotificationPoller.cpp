#include "service/NotificationPoller.h"

#include <algorithm>

namespace kestrava::service {

namespace {
std::string keyText(const Value& key) {
  if (key.kind() == Value::Kind::Text) return key.asText();
  return key.debugString();
}
}  // namespace

NotificationPoller::NotificationPoller(Reader reader, std::shared_ptr<PollerClock> clock)
    : reader_(std::move(reader)), clock_(clock ? std::move(clock) : PollerClock::steady()) {}

NotificationPoller::~NotificationPoller() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wakeup_.notify_all();
  if (!thread_.joinable()) return;
  // A callback that destroys its own connection cannot wait for its own thread.
  if (std::this_thread::get_id() == thread_.get_id())
    thread_.detach();
  else
    thread_.join();
}

SubscriptionId NotificationPoller::add(size_t classIndex, Clock::duration interval,
                                       EventCallback callback, EventInterest interest) {
  std::unique_lock lock(mutex_);
  const SubscriptionId id = ++nextId_;
  subscriptions_[id] = {classIndex, interval,
                        std::make_shared<const EventCallback>(std::move(callback)),
                        std::move(interest)};
  const auto now = clock_->now();
  auto [it, isNew] = watched_.try_emplace(classIndex);
  Watched& watched = it->second;
  if (isNew) {
    watched.interval = interval;
    watched.nextDue = now;  // the first read is the baseline that later reads compare with
  } else if (interval < watched.interval) {
    watched.interval = interval;
    watched.nextDue = std::min(watched.nextDue, now + interval);
  }
  if (!running_ && !stopping_) {
    // A thread that ran out of subscriptions has already left its loop; reap it first.
    if (thread_.joinable()) thread_.join();
    running_ = true;
    thread_ = std::thread([this] { run(); });
    threadId_ = thread_.get_id();
  }
  wakeup_.notify_all();
  return id;
}

void NotificationPoller::remove(SubscriptionId id) {
  std::unique_lock lock(mutex_);
  auto it = subscriptions_.find(id);
  if (it == subscriptions_.end()) return;
  const size_t classIndex = it->second.classIndex;
  subscriptions_.erase(it);
  recomputeInterval(classIndex);
  wakeup_.notify_all();
  if (std::this_thread::get_id() == threadId_) return;
  delivered_.wait(lock, [&] { return delivering_ != id; });
}

size_t NotificationPoller::subscriptionCount() const {
  std::lock_guard lock(mutex_);
  return subscriptions_.size();
}

bool NotificationPoller::threadRunning() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void NotificationPoller::recomputeInterval(size_t classIndex) {
  auto watched = watched_.find(classIndex);
  if (watched == watched_.end()) return;
  bool any = false;
  Clock::duration shortest = Clock::duration::max();
  for (const auto& [id, s] : subscriptions_) {
    if (s.classIndex != classIndex) continue;
    any = true;
    shortest = std::min(shortest, s.interval);
  }
  if (!any)
    watched_.erase(watched);  // nobody left to tell: forget its snapshot
  else
    watched->second.interval = shortest;
}

void NotificationPoller::run() {
  std::unique_lock lock(mutex_);
  while (!stopping_ && !subscriptions_.empty()) {
    auto due = std::min_element(watched_.begin(), watched_.end(), [](const auto& a, const auto& b) {
      return a.second.nextDue < b.second.nextDue;
    });
    if (due == watched_.end()) break;
    // A copy: the class may stop being watched while this thread waits.
    const Clock::time_point deadline = due->second.nextDue;
    if (clock_->now() < deadline) {
      clock_->waitUntil(wakeup_, lock, deadline);
      continue;
    }
    pollOnce(due->first, lock);
  }
  running_ = false;
}

void NotificationPoller::pollOnce(size_t classIndex, std::unique_lock<std::mutex>& lock) {
  watched_[classIndex].nextDue = clock_->now() + watched_[classIndex].interval;
  lock.unlock();
  std::vector<ManagementObject> objects;
  bool read = true;
  try {
    objects = reader_(classIndex);
  } catch (...) {
    read = false;  // a failed read changes nothing; the next interval tries again
  }
  lock.lock();
  auto it = watched_.find(classIndex);
  if (it == watched_.end() || stopping_) return;
  // A read slower than the interval must not turn into back-to-back reads.
  const auto now = clock_->now();
  if (now > it->second.nextDue) it->second.nextDue = now + it->second.interval;
  if (!read) return;
  auto events = compare(it->second, std::move(objects));
  if (!events.empty()) deliver(classIndex, events, lock);
}

std::vector<EventObject> NotificationPoller::compare(Watched& watched,
                                                     std::vector<ManagementObject> objects) {
  std::vector<EventObject> events;
  std::unordered_map<std::string, ManagementObject> next;
  next.reserve(objects.size());
  for (auto& object : objects) {
    const auto& schema = object.schema();
    auto keyIndex = schema ? schema->indexOf(schema->keyProperty()) : std::nullopt;
    if (!keyIndex) continue;  // an instance without a key cannot be followed from read to read
    std::string key = keyText(object.at(*keyIndex));
    if (watched.hasSnapshot) {
      auto before = watched.snapshot.find(key);
      if (before == watched.snapshot.end())
        events.push_back({"__InstanceCreationEvent", object, ManagementObject()});
      else if (before->second.values() != object.values())
        events.push_back({"__InstanceModificationEvent", object, before->second});
    }
    next.emplace(std::move(key), std::move(object));
  }
  if (watched.hasSnapshot)
    for (auto& [key, before] : watched.snapshot)
      if (!next.contains(key))
        events.push_back({"__InstanceDeletionEvent", std::move(before), ManagementObject()});
  watched.snapshot = std::move(next);
  watched.hasSnapshot = true;
  return events;
}

void NotificationPoller::deliver(size_t classIndex, const std::vector<EventObject>& events,
                                 std::unique_lock<std::mutex>& lock) {
  for (const auto& event : events) {
    std::vector<SubscriptionId> ids;
    for (const auto& [id, s] : subscriptions_)
      if (s.classIndex == classIndex && s.interest.eventClass == event.className &&
          (!s.interest.condition || s.interest.condition->matches(event.target)))
        ids.push_back(id);
    for (SubscriptionId id : ids) {
      if (stopping_) return;
      auto it = subscriptions_.find(id);
      if (it == subscriptions_.end()) continue;  // cancelled by an earlier callback
      auto callback = it->second.callback;
      delivering_ = id;
      lock.unlock();
      try {
        (*callback)(event);
      } catch (...) {
        // A failing sink must not end the notifications of the others.
      }
      lock.lock();
      delivering_ = 0;
      delivered_.notify_all();
    }
  }
}

}  // namespace kestrava::service
