// Enumerating Win32_Process with every property the Processes view reads, against
// `ps -e -o ...` with the equivalent fields, on a host with 1,000 extra processes that this
// program starts (KESTRAVA_BENCH_PROCESSES overrides the count) and kills when it ends.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "service/linux/ProcessProvider.h"
#include "service/linux/SystemRoot.h"

extern char** environ;

namespace {

using kestrava::ManagementObject;
using kestrava::service::PropertySet;
using kestrava::service::linuxsys::ProcessProvider;
using kestrava::service::linuxsys::SystemRoot;

// Sleeping children, killed and reaped when the group goes out of scope.
class SleeperGroup {
 public:
  explicit SleeperGroup(int count) {
    for (int i = 0; i < count; ++i) {
      pid_t pid = ::fork();
      if (pid < 0) break;
      if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with the benchmark, whatever ends it
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
        ::_exit(127);
      }
      pids_.push_back(pid);
    }
  }
  ~SleeperGroup() {
    for (pid_t p : pids_) ::kill(p, SIGKILL);
    for (pid_t p : pids_) ::waitpid(p, nullptr, 0);
  }
  size_t size() const { return pids_.size(); }
  // Waits (at most ten seconds) until every child runs sleep, not a copy of this program.
  bool waitUntilExecuted() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (pid_t p : pids_) {
      for (;;) {
        std::ifstream comm("/proc/" + std::to_string(p) + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == "sleep") break;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    return true;
  }

 private:
  std::vector<pid_t> pids_;
};

double threadCpuMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// User and system time of the reaped children, ps included.
double childrenCpuMs() {
  rusage ru{};
  ::getrusage(RUSAGE_CHILDREN, &ru);
  auto ms = [](const timeval& tv) { return double(tv.tv_sec) * 1e3 + double(tv.tv_usec) / 1e3; };
  return ms(ru.ru_utime) + ms(ru.ru_stime);
}

void BM_ProviderAllProperties(benchmark::State& state) {
  ProcessProvider provider(SystemRoot::live());
  size_t count = 0;
  double cpu = 0;
  for (auto _ : state) {
    const double start = threadCpuMs();
    count = 0;
    provider.enumerate(PropertySet::all(), [&](ManagementObject&& o) {
      benchmark::DoNotOptimize(o);
      ++count;
      return true;
    });
    cpu += threadCpuMs() - start;
  }
  state.counters["processes"] = static_cast<double>(count);
  state.counters["cpu_ms"] = cpu / double(state.iterations());
  // What one process row costs while it is held: every object kept, the heap measured around it.
  const size_t before = ::mallinfo2().uordblks;
  std::vector<ManagementObject> held;
  provider.enumerate(PropertySet::all(), [&](ManagementObject&& o) {
    held.push_back(std::move(o));
    return true;
  });
  const size_t after = ::mallinfo2().uordblks;
  state.counters["bytes_per_row"] =
      held.empty() ? 0 : double(after - before) / static_cast<double>(held.size());
}

void BM_ProviderNameOnly(benchmark::State& state) {
  ProcessProvider provider(SystemRoot::live());
  std::vector<bool> wanted(provider.schema()->size(), false);
  wanted[*provider.schema()->indexOf("Name")] = true;
  const PropertySet nameOnly(wanted);
  size_t count = 0;
  for (auto _ : state) {
    count = 0;
    provider.enumerate(nameOnly, [&](ManagementObject&& o) {
      benchmark::DoNotOptimize(o);
      ++count;
      return true;
    });
  }
  state.counters["processes"] = static_cast<double>(count);
}

// Runs ps with the fields that match the view's columns and reads all it prints.
void BM_PsEquivalentFields(benchmark::State& state) {
  const char* argv[] = {"ps", "-e", "-o",
                        "pid,ppid,comm,args,nlwp,vsz,rss,majflt,minflt,lstart,time,pri", nullptr};
  size_t lines = 0;
  const double childStart = childrenCpuMs();
  for (auto _ : state) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
      state.SkipWithError("pipe failed");
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "ps", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
      ::close(out[0]);
      state.SkipWithError("cannot start ps");
      return;
    }
    char buf[65536];
    lines = 0;
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;)
      for (ssize_t i = 0; i < n; ++i) lines += buf[i] == '\n';
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
  }
  state.counters["processes"] = static_cast<double>(lines > 0 ? lines - 1 : 0);
  state.counters["cpu_ms"] = (childrenCpuMs() - childStart) / double(state.iterations());
}

// Keeps each benchmark's median wall time and CPU time per run, for the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      if (r.aggregate_name != "median") continue;
      wall_[r.run_name.function_name] = r.GetAdjustedRealTime();
      if (auto it = r.counters.find("cpu_ms"); it != r.counters.end())
        cpu_[r.run_name.function_name] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  static double at(const std::map<std::string, double>& m, const std::string& name) {
    auto it = m.find(name);
    return it == m.end() ? 0 : it->second;
  }
  std::map<std::string, double> wall_, cpu_;
};

}  // namespace

BENCHMARK(BM_ProviderAllProperties)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PsEquivalentFields)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ProviderNameOnly)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
  const char* env = std::getenv("KESTRAVA_BENCH_PROCESSES");
  const int count = env ? std::atoi(env) : 1000;
  SleeperGroup sleepers(count);
  if (sleepers.size() != static_cast<size_t>(count) || !sleepers.waitUntilExecuted()) {
    std::fprintf(stderr, "process_bench: could not start %d sleeping processes\n", count);
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const std::string provider = "BM_ProviderAllProperties", ps = "BM_PsEquivalentFields";
  const double wallP = RatioReporter::at(reporter.wall_, provider);
  const double wallPs = RatioReporter::at(reporter.wall_, ps);
  const double cpuP = RatioReporter::at(reporter.cpu_, provider);
  const double cpuPs = RatioReporter::at(reporter.cpu_, ps);
  if (wallP > 0 && wallPs > 0 && cpuP > 0 && cpuPs > 0)
    std::printf(
        "median wall ms: provider %.1f, ps %.1f, ratio %.2f; median CPU ms: provider %.1f, ps "
        "%.1f, ratio %.2f (%d extra processes)\n",
        wallP, wallPs, wallP / wallPs, cpuP, cpuPs, cpuP / cpuPs, count);
  return 0;
}
