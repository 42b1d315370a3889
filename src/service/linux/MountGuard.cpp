#include "service/linux/MountGuard.h"

#include <algorithm>
#include <condition_variable>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace kestrava::service::linuxsys {

struct MountGuard::Shared {
  Options options;
  mutable std::mutex mutex;
  std::unordered_map<std::string, size_t> hanging;  // mount -> its calls given up, still blocked
  size_t active = 0;                                // threads working for a run
  size_t stuck = 0;                                 // threads of calls given up

  bool reserveThread() {
    std::lock_guard lock(mutex);
    if (active + stuck >= options.maxThreads) return false;
    ++active;
    return true;
  }
  void releaseThread() {
    std::lock_guard lock(mutex);
    --active;
  }
  bool isHanging(const std::string& mount) const {
    std::lock_guard lock(mutex);
    return hanging.count(mount) != 0;
  }
  size_t stuckCount() const {
    std::lock_guard lock(mutex);
    return stuck;
  }
  void gaveUp(const std::string& mount) {
    std::lock_guard lock(mutex);
    ++hanging[mount];
    --active;
    ++stuck;
  }
  // A call given up has returned after all: its mount answers again.
  void returned(const std::string& mount) {
    std::lock_guard lock(mutex);
    if (auto it = hanging.find(mount); it != hanging.end() && --it->second == 0) hanging.erase(it);
    --stuck;
  }
};

namespace {
constexpr size_t kIdle = SIZE_MAX;

struct Worker {
  std::thread thread;
  size_t call = kIdle;  // the call it runs
  MountGuard::Clock::time_point lastProgress;
  bool abandoned = false;
  bool exited = false;
};

// One run: its calls and its workers, shared with the workers so that one given up may outlive
// the run. Lock order: this mutex, then the guard's.
struct RunState {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<MountGuard::Call> calls;
  size_t next = 0;
  std::vector<char> finished;
  std::list<Worker> workers;  // stable addresses
};

class WorkerProgress final : public MountGuard::Progress {
 public:
  WorkerProgress(RunState& run, Worker& worker) : run_(run), worker_(worker) {}
  bool tick() override {
    std::lock_guard lock(run_.mutex);
    worker_.lastProgress = MountGuard::Clock::now();
    return !worker_.abandoned;
  }

 private:
  RunState& run_;
  Worker& worker_;
};

void workerLoop(const std::shared_ptr<RunState>& run,
                const std::shared_ptr<MountGuard::Shared>& shared, Worker* worker) {
  std::unique_lock lock(run->mutex);
  for (;;) {
    size_t call = kIdle;
    while (call == kIdle && run->next < run->calls.size()) {
      const size_t candidate = run->next++;
      if (!shared->isHanging(run->calls[candidate].mount)) call = candidate;
    }
    if (call == kIdle) {
      worker->exited = true;
      shared->releaseThread();
      run->changed.notify_all();
      return;
    }
    worker->call = call;
    worker->lastProgress = MountGuard::Clock::now();
    lock.unlock();
    WorkerProgress progress(*run, *worker);
    try {
      run->calls[call].work(progress);
    } catch (...) {
      // A call that fails has nothing to give; its results stay unset.
    }
    lock.lock();
    if (worker->abandoned) {
      lock.unlock();
      shared->returned(run->calls[call].mount);
      return;  // detached by the run that gave it up
    }
    run->finished[call] = 1;
    worker->call = kIdle;
    run->changed.notify_all();
  }
}
}  // namespace

MountGuard::MountGuard(Options options) : shared_(std::make_shared<Shared>()) {
  shared_->options = options;
}

const std::shared_ptr<MountGuard>& MountGuard::live() {
  static const auto guard = std::make_shared<MountGuard>();
  return guard;
}

bool MountGuard::knownToHang(const std::string& mount) const {
  return shared_->isHanging(mount);
}

size_t MountGuard::stuckCalls() const {
  return shared_->stuckCount();
}

std::vector<bool> MountGuard::run(std::vector<Call> calls) {
  if (calls.empty()) return {};
  const Options& options = shared_->options;
  const auto poll = std::clamp(Clock::duration(options.quietBound / 10),
                               Clock::duration(std::chrono::milliseconds(1)),
                               Clock::duration(std::chrono::milliseconds(100)));
  auto run = std::make_shared<RunState>();
  run->calls = std::move(calls);
  run->finished.assign(run->calls.size(), 0);

  std::unique_lock lock(run->mutex);
  size_t live = 0;
  const auto spawn = [&] {
    if (!shared_->reserveThread()) return false;
    Worker& worker = run->workers.emplace_back();
    try {
      worker.thread = std::thread(workerLoop, run, shared_, &worker);
    } catch (const std::system_error&) {
      run->workers.pop_back();
      shared_->releaseThread();
      return false;
    }
    ++live;
    return true;
  };
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  for (size_t i = 0; i < std::min(cores, run->calls.size()); ++i)
    if (!spawn()) break;

  for (;;) {
    const auto now = Clock::now();
    size_t blocked = 0;
    live = 0;
    for (Worker& w : run->workers) {
      if (w.abandoned || w.exited) continue;
      if (w.call != kIdle) {
        const auto quiet = now - w.lastProgress;
        if (quiet >= options.quietBound) {
          w.abandoned = true;
          shared_->gaveUp(run->calls[w.call].mount);
          w.thread.detach();
          continue;
        }
        if (quiet >= poll) ++blocked;  // perhaps stuck: the other calls need not wait for it
      }
      ++live;
    }
    const size_t pending = run->calls.size() - std::min(run->next, run->calls.size());
    if (pending == 0 && live == 0) break;
    size_t wanted = std::min(pending, blocked + (live == 0 ? 1 : 0));
    while (wanted > 0 && spawn()) --wanted;
    if (live == 0) break;  // nothing may start: the rest stay unread
    run->changed.wait_for(lock, poll);
  }
  std::vector<bool> finished(run->finished.begin(), run->finished.end());
  lock.unlock();
  for (Worker& w : run->workers)
    if (w.thread.joinable()) w.thread.join();
  return finished;
}

std::string mountKey(const MountEntry& mount) {
  return std::to_string(mount.id) + ' ' + mount.mountPoint;
}

}  // namespace kestrava::service::linuxsys
