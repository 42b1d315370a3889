#include "query/Fleet.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace kestrava::query {

namespace {

ComError unexpected(const std::exception& e) {
  return ComError(err::kWbemFailed, std::string("kestrava-query failed: ") + e.what() + " ",
                  "kestrava-query");
}

}  // namespace

void forEachInParallel(size_t count, unsigned parallel, const std::function<void(size_t)>& job) {
  std::mutex mutex;
  size_t next = 0;
  auto worker = [&] {
    for (;;) {
      size_t index;
      {
        std::lock_guard lock(mutex);
        if (next >= count) return;
        index = next++;
      }
      job(index);
    }
  };
  std::vector<std::thread> threads;
  for (size_t i = 1; i < std::min<size_t>(parallel, count); ++i) threads.emplace_back(worker);
  worker();
  for (auto& t : threads) t.join();
}

void askFleet(const std::vector<std::string>& computers, unsigned parallel,
              const ConnectionFactory& connect,
              const std::function<void(Connection&, FleetAnswer&)>& ask,
              const std::function<bool(const std::string& computer, FleetAnswer&)>& print) {
  const size_t count = computers.size();
  // A computer is started only within this distance of the next to be printed.
  const size_t window = 2 * static_cast<size_t>(parallel);
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::optional<FleetAnswer>> answers(count);
  size_t nextToStart = 0, printed = 0;
  bool stopped = false;

  auto worker = [&] {
    for (;;) {
      size_t index;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] {
          return stopped || nextToStart >= count || nextToStart < printed + window;
        });
        if (stopped || nextToStart >= count) return;
        index = nextToStart++;
      }
      FleetAnswer answer;
      try {
        auto connection = connect(computers[index], {});
        ask(*connection, answer);
      } catch (const ComError& e) {
        answer.error = e;
      } catch (const std::exception& e) {
        answer.error = unexpected(e);
      }
      {
        std::lock_guard lock(mutex);
        answers[index] = std::move(answer);
      }
      changed.notify_all();
    }
  };

  auto printInOrder = [&] {
    for (size_t index = 0; index < count; ++index) {
      FleetAnswer answer;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return answers[index].has_value(); });
        answer = std::move(*answers[index]);
        answers[index].reset();
      }
      const bool goOn = print(computers[index], answer);
      {
        std::lock_guard lock(mutex);
        ++printed;
        stopped = !goOn;
      }
      changed.notify_all();
      if (!goOn) return;
    }
  };

  std::vector<std::thread> threads;
  auto stopAndJoin = [&] {
    {
      std::lock_guard lock(mutex);
      stopped = true;
    }
    changed.notify_all();
    for (auto& t : threads)
      if (t.joinable()) t.join();
  };
  try {
    for (size_t i = 0; i < std::min<size_t>(parallel, count); ++i) threads.emplace_back(worker);
    printInOrder();
  } catch (...) {
    stopAndJoin();  // the workers end with the computer each has in hand
    throw;
  }
  stopAndJoin();
}

}  // namespace kestrava::query
