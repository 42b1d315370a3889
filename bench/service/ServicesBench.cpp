// Win32_Service enumeration against `systemctl --user show`, side by side, over 500 units in the
// private user manager of scripts/fixtures/systemd-user.sh. Run with that fixture's variables:
//   eval "$(bash scripts/fixtures/systemd-user.sh start /tmp/kf)"
//   build/default/bench/service/services_bench
//   bash scripts/fixtures/systemd-user.sh stop /tmp/kf
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "service/systemd/ServiceSchema.h"
#include "service/systemd/SystemdServiceProvider.h"

namespace {

using kestrava::ManagementObject;
using kestrava::service::PropertySet;
using kestrava::service::systemd::SystemdServiceProvider;

constexpr int kUnits = 500;
constexpr int kRunning = 100;  // of them, started: each has a main process
// What the provider reads per unit, asked of systemctl as well.
constexpr const char* kProperties =
    "Id,Description,LoadState,ActiveState,SubState,FreezerState,UnitFileState,CanStop,CanFreeze,"
    "FailureAction,MainPID,ExecMainStatus,ExecStart,User,DynamicUser,TimeoutStartUSec,"
    "TimeoutStopUSec";

std::string env(const char* name) {
  const char* v = ::getenv(name);
  return v ? v : "";
}

// Runs systemctl --user with the arguments, output discarded; its exit status.
int systemctl(const std::vector<std::string>& args) {
  std::vector<std::string> argv{"systemctl", "--user"};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  std::string runtime = "XDG_RUNTIME_DIR=" + env("KESTRAVA_TEST_SYSTEMD_RUNTIME_DIR");
  std::string path = "PATH=/usr/bin:/bin";
  std::vector<char*> envp{runtime.data(), path.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, "systemctl", &actions, nullptr, cargv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// CPU time (user + system) a process has used so far, in milliseconds; 0 when it is gone.
double cpuMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  if (pid <= 0 || close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i == 14 || i == 15) ticks += std::stod(field);
  return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double childrenCpuMs() {
  rusage usage{};
  ::getrusage(RUSAGE_CHILDREN, &usage);
  auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// The service manager and the bus daemon in between: their CPU time is part of the cost.
struct Helpers {
  pid_t manager = 0;
  pid_t busDaemon = 0;
  double used() const { return cpuMs(manager) + cpuMs(busDaemon); }
};
Helpers helpers;

std::string unitName(int i) {
  char name[64];
  std::snprintf(name, sizeof name, "kestrava-bench-%03d.service", i);
  return name;
}

// The 500 units: written, loaded and partly started; removed again at the end.
class BenchUnits {
 public:
  BenchUnits() : dir_(env("KESTRAVA_TEST_SYSTEMD_UNIT_DIR")) {
    for (int i = 0; i < kUnits; ++i)
      std::ofstream(dir_ / unitName(i))
          << "[Unit]\nDescription=Kestrava benchmark unit " << i
          << "\n[Service]\nExecStart=/bin/sleep infinity\nStandardOutput=null\n";
    systemctl({"daemon-reload"});
    std::vector<std::string> start{"start"};
    for (int i = 0; i < kRunning; ++i) start.push_back(unitName(i));
    systemctl(start);
  }
  ~BenchUnits() {
    std::vector<std::string> stop{"stop"};
    for (int i = 0; i < kRunning; ++i) stop.push_back(unitName(i));
    systemctl(stop);
    for (int i = 0; i < kUnits; ++i) std::filesystem::remove(dir_ / unitName(i));
    systemctl({"daemon-reload"});
  }

 private:
  std::filesystem::path dir_;
};

std::unique_ptr<SystemdServiceProvider> openProvider() {
  auto client = kestrava::service::systemd::SystemdClient::open(std::chrono::seconds(5));
  if (!client) return nullptr;
  return std::make_unique<SystemdServiceProvider>(std::move(client),
                                                  kestrava::service::systemd::localHostFacts());
}

std::vector<std::string> allServiceNames(SystemdServiceProvider& provider) {
  std::vector<bool> wanted(kestrava::service::win32ServiceSchema()->size(), false);
  wanted[*kestrava::service::win32ServiceSchema()->indexOf("Name")] = true;
  std::vector<std::string> names;
  provider.enumerate(PropertySet(wanted), [&](ManagementObject&& o) {
    names.push_back(o.get("Name").asText());
    return true;
  });
  return names;
}

// Every property on a connection already in use (what each refill and each poll pays).
void enumerateWin32Service(benchmark::State& state, SystemdServiceProvider* provider) {
  size_t count = 0;
  provider->enumerate(PropertySet::all(), [](ManagementObject&&) { return true; });
  const double before = helpers.used();
  for (auto _ : state) {
    count = 0;
    provider->enumerate(PropertySet::all(), [&](ManagementObject&& o) {
      benchmark::DoNotOptimize(o);
      ++count;
      return true;
    });
  }
  state.counters["services"] = static_cast<double>(count);
  state.counters["helpers_cpu_ms"] =
      benchmark::Counter(helpers.used() - before, benchmark::Counter::kAvgIterations);
}

// A new connection each time: the bus opened, the unit file list read anew.
void enumerateCold(benchmark::State& state) {
  size_t count = 0;
  const double before = helpers.used();
  for (auto _ : state) {
    auto provider = openProvider();
    if (!provider) {
      state.SkipWithError("no systemd answers");
      break;
    }
    count = 0;
    provider->enumerate(PropertySet::all(), [&](ManagementObject&&) { return ++count > 0; });
  }
  state.counters["services"] = static_cast<double>(count);
  state.counters["helpers_cpu_ms"] =
      benchmark::Counter(helpers.used() - before, benchmark::Counter::kAvgIterations);
}

// Only the named properties: shows what each source (lists, Unit, Service, /proc) costs.
void enumerateSome(benchmark::State& state, SystemdServiceProvider* provider,
                   std::vector<std::string> properties) {
  const auto& schema = kestrava::service::win32ServiceSchema();
  std::vector<bool> wanted(schema->size(), false);
  for (const std::string& p : properties) wanted[*schema->indexOf(p)] = true;
  size_t count = 0;
  provider->enumerate(PropertySet(wanted), [](ManagementObject&&) { return true; });
  const double before = helpers.used();
  for (auto _ : state) {
    count = 0;
    provider->enumerate(PropertySet(wanted), [&](ManagementObject&& o) {
      benchmark::DoNotOptimize(o);
      ++count;
      return true;
    });
  }
  state.counters["services"] = static_cast<double>(count);
  state.counters["helpers_cpu_ms"] =
      benchmark::Counter(helpers.used() - before, benchmark::Counter::kAvgIterations);
}

void systemctlShow(benchmark::State& state, const std::vector<std::string>* names) {
  std::vector<std::string> args{"show", std::string("--property=") + kProperties};
  args.insert(args.end(), names->begin(), names->end());
  const double before = helpers.used();
  const double childrenBefore = childrenCpuMs();
  for (auto _ : state)
    if (systemctl(args) != 0) state.SkipWithError("systemctl --user show failed");
  // The benchmark's own CPU column leaves out the child; this is systemctl's own CPU time.
  state.counters["systemctl_cpu_ms"] =
      benchmark::Counter(childrenCpuMs() - childrenBefore, benchmark::Counter::kAvgIterations);
  state.counters["services"] = static_cast<double>(names->size());
  state.counters["helpers_cpu_ms"] =
      benchmark::Counter(helpers.used() - before, benchmark::Counter::kAvgIterations);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (env("KESTRAVA_TEST_SYSTEMD").empty()) {
    std::fprintf(stderr, "services_bench needs scripts/fixtures/systemd-user.sh's variables\n");
    return 1;
  }
  BenchUnits units;
  auto provider = openProvider();
  if (!provider) {
    std::fprintf(stderr, "no systemd answers on DBUS_SYSTEM_BUS_ADDRESS\n");
    return 1;
  }
  const std::vector<std::string> names = allServiceNames(*provider);
  std::ifstream(std::filesystem::path(env("KESTRAVA_TEST_SYSTEMD_RUNTIME_DIR")).parent_path() /
                "manager.pid") >>
      helpers.manager;
  if (auto bus = provider->get("dbus.service"))
    helpers.busDaemon = static_cast<pid_t>(bus->get("ProcessId").asInteger());
  benchmark::RegisterBenchmark("Win32_Service/enumerate_all_properties", enumerateWin32Service,
                               provider.get())
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Win32_Service/enumerate_all_properties_new_connection",
                               enumerateCold)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(5);
  const std::pair<const char*, std::vector<std::string>> subsets[] = {
      {"Win32_Service/enumerate_Name", {"Name"}},
      {"Win32_Service/enumerate_Name_Description", {"Name", "Description"}},
      {"Win32_Service/enumerate_Name_ProcessId", {"Name", "ProcessId"}},
  };
  for (const auto& [label, properties] : subsets)
    benchmark::RegisterBenchmark(label, enumerateSome, provider.get(), properties)
        ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("systemctl_user_show/same_properties_same_units", systemctlShow,
                               &names)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(5);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
