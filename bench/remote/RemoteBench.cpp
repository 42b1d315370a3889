// The view build's seven queries, locally and through kestrava-agent over the loopback sshd of
// scripts/fixtures/sshd.sh (KESTRAVA_TEST_SSH_HOST/DIR), with at least 1,000 processes on the far
// side (the far side is this computer); the whole remote view build, handshake included, through
// a relay that delays each direction (a far network) and through the same relay without delay;
// the ssh handshake alone; and the protocol alone over a socket pair. Results are written down in
// docs/benchmarks.md.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/ProcessPool.h"
#include "connect/Connector.h"
#include "remote/AgentSession.h"
#include "remote/LoopbackRelay.h"
#include "remote/RemoteConnection.h"
#include "sys/UniqueFd.h"

namespace kestrava {
namespace {

namespace fs = std::filesystem;

constexpr const char* kViewQueries[] = {
    "Select * From Win32_ComputerSystem", "Select * From Win32_NTEventLogFile",
    "Select * From Win32_LogicalDisk",    "Select * From Win32_OperatingSystem",
    "Select * From Win32_Process",        "Select * From Win32_Processor",
    "Select * From Win32_Service"};

// Runs the seven queries and reads every object; the number of objects, or -1 when one failed.
long viewBuild(Connection& connection) {
  long objects = 0;
  for (const char* wql : kViewQueries) {
    try {
      auto stream = connection.execQuery(wql);
      while (auto o = stream->next()) {
        benchmark::DoNotOptimize(o);
        ++objects;
      }
    } catch (const ComError&) {
      return -1;
    }
  }
  return objects;
}

std::string sshHost() {
  const char* host = std::getenv("KESTRAVA_TEST_SSH_HOST");
  const char* dir = std::getenv("KESTRAVA_TEST_SSH_DIR");
  if (!host || !dir) return {};
  fs::path at = fs::path(dir) / "agents/real/kestrava-agent";
  fs::path temporary = at;
  temporary += ".bench";
  fs::remove(temporary);
  fs::create_symlink(KESTRAVA_AGENT_PROGRAM, temporary);
  fs::rename(temporary, at);
  return host;
}

void runViewBuild(benchmark::State& state, Connection& connection) {
  long objects = 0;
  for (auto _ : state) objects = viewBuild(connection);
  if (objects < 0) state.SkipWithError("a view query failed (is the local service wired in?)");
  state.counters["objects"] = static_cast<double>(objects);
}

void BM_ViewBuild_Local(benchmark::State& state) {
  auto connection = connectComputer(".");
  runViewBuild(state, *connection);
}
BENCHMARK(BM_ViewBuild_Local)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ViewBuild_OverSsh(benchmark::State& state) {
  auto host = sshHost();
  if (host.empty()) return state.SkipWithError("no loopback sshd (scripts/fixtures/sshd.sh)");
  auto connection = connectComputer(host);
  runViewBuild(state, *connection);
}
BENCHMARK(BM_ViewBuild_OverSsh)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// What OK in the Connect dialog asks of a new connection: the connect, with the seven queries
// named to it, then for each view in the build's order a subscription to service changes and the
// view's query, read to its end.
constexpr const char* kServiceChangeQuery =
    "Select * from __InstanceModificationEvent Within 2.0 Where TargetInstance Isa "
    "'Win32_Service'";

long connectAndBuild(const std::string& host, remote::SshOptions options, uint64_t& roundTrips) {
  // As the Connect dialog does: the seven queries are named with the connect.
  options.readAhead.assign(std::begin(kViewQueries), std::end(kViewQueries));
  auto connection = remote::connectOverSsh(host, options);
  long objects = 0;
  for (const char* wql : kViewQueries) {
    try {
      connection->subscribe(kServiceChangeQuery, [](const EventObject&) {});
      auto stream = connection->execQuery(wql);
      while (auto o = stream->next()) {
        benchmark::DoNotOptimize(o);
        ++objects;
      }
    } catch (const ComError&) {
      return -1;
    }
  }
  roundTrips = connection->roundTrips();
  return objects;
}

// The loopback sshd's port, from its configuration.
int sshdPort() {
  std::ifstream config(fs::path(std::getenv("KESTRAVA_TEST_SSH_DIR")) / "sshd_config");
  for (std::string key; config >> key;) {
    int port = 0;
    if (key == "Port" && config >> port) return port;
  }
  return 0;
}

// Connect and view build (state.range(1) 1), or the connect alone (0), through a relay that
// holds each chunk state.range(0) ms in each direction: a round trip of twice that on top of the
// loopback's.
void BM_ConnectAndViewBuild_Relay(benchmark::State& state) {
  auto host = sshHost();
  if (host.empty()) return state.SkipWithError("no loopback sshd (scripts/fixtures/sshd.sh)");
  remote::testing::LoopbackRelay relay(sshdPort(), std::chrono::milliseconds(state.range(0)));
  fs::path ssh = fs::path(std::getenv("KESTRAVA_TEST_SSH_DIR")) /
                 ("bench-ssh-" + std::to_string(relay.port()));
  // The relay's port has no host key of its own in the fixture's known hosts.
  std::ofstream(ssh) << "#!/bin/sh\nexec ssh -o Port=" << relay.port()
                     << " -o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no"
                        " -o LogLevel=ERROR \"$@\"\n";
  fs::permissions(ssh, fs::perms::owner_all);
  remote::SshOptions options;
  options.sshProgram = ssh;
  long objects = 0;
  uint64_t roundTrips = 0;
  for (auto _ : state) {
    if (state.range(1))
      objects = connectAndBuild(host, options, roundTrips);
    else
      remote::connectOverSsh(host, options).reset();
  }
  fs::remove(ssh);
  if (objects < 0) state.SkipWithError("a view query failed");
  state.counters["objects"] = static_cast<double>(objects);
  state.counters["round_trips"] = static_cast<double>(roundTrips);
}
BENCHMARK(BM_ConnectAndViewBuild_Relay)
    ->Args({0, 0})
    ->Args({25, 0})
    ->Args({0, 1})
    ->Args({25, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10)
    ->Repetitions(3);

void BM_SshHandshake(benchmark::State& state) {
  auto host = sshHost();
  if (host.empty()) return state.SkipWithError("no loopback sshd (scripts/fixtures/sshd.sh)");
  for (auto _ : state) connectComputer(host).reset();
}
BENCHMARK(BM_SshHandshake)->Unit(benchmark::kMillisecond)->Iterations(10);

// ---- the protocol alone: 1,000 process-like objects over a socket pair ----

class BenchService final : public Connection {
 public:
  explicit BenchService(size_t count) {
    std::vector<std::string> names;
    for (int i = 0; i < 45; ++i) names.push_back("Property" + std::to_string(i));
    names[0] = "Handle";
    auto schema = std::make_shared<const ClassSchema>("Win32_Process", "Handle", names);
    for (size_t n = 0; n < count; ++n) {
      ManagementObject o(schema);
      for (size_t i = 0; i < names.size(); ++i) {
        switch (i % 4) {
          case 0:
            o.setAt(i, Value::text("/usr/lib/worker-" + std::to_string(n * 31 + i)));
            break;
          case 1:
            o.setAt(i, Value::integer(static_cast<int64_t>(n * 7919 + i)));
            break;
          case 2:
            o.setAt(i, Value::text("20261209114551.000000+060"));
            break;
          default:
            o.setAt(i, i % 8 == 3 ? Value::null() : Value::boolean(true));
        }
      }
      objects_.push_back(std::move(o));
    }
  }
  std::unique_ptr<ObjectStream> execQuery(std::string_view) override {
    struct Stream : ObjectStream {
      const std::vector<ManagementObject>* objects;
      size_t at = 0;
      std::optional<ManagementObject> next() override {
        if (at == objects->size()) return std::nullopt;
        return (*objects)[at++];
      }
    };
    auto s = std::make_unique<Stream>();
    s->objects = &objects_;
    return s;
  }
  ManagementObject getObject(std::string_view) override { return objects_.at(0); }
  Value execMethod(std::string_view, std::string_view) override { return Value::integer(0); }
  SubscriptionId subscribe(std::string_view, EventCallback) override { return 1; }
  void cancel(SubscriptionId) override {}

 private:
  std::vector<ManagementObject> objects_;
};

class PairTransport final : public remote::Transport {
 public:
  explicit PairTransport(int fd) : fd_(fd) {}
  int inputFd() const override { return fd_.get(); }
  int outputFd() const override { return fd_.get(); }
  ComError endedBeforeHello(const std::string&) override { return ComError(1, "ended ", "bench"); }
  std::string endReason(const std::string&) override { return "ended"; }

 private:
  sys::UniqueFd fd_;
};

void BM_Objects1000_Direct(benchmark::State& state) {
  BenchService service(1000);
  for (auto _ : state) {
    auto stream = service.execQuery("Select * From Win32_Process");
    while (auto o = stream->next()) benchmark::DoNotOptimize(o);
  }
}
BENCHMARK(BM_Objects1000_Direct)->Unit(benchmark::kMillisecond);

void BM_Objects1000_OverProtocol(benchmark::State& state) {
  int fds[2];
  ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
  sys::UniqueFd agentEnd(fds[1]);
  std::thread agent([&] {
    remote::AgentSession session(agentEnd.get(), agentEnd.get(),
                                 [] { return std::make_unique<BenchService>(1000); });
    session.run();
  });
  {
    remote::RemoteConnection connection(std::make_unique<PairTransport>(fds[0]), "bench");
    for (auto _ : state) {
      auto stream = connection.execQuery("Select * From Win32_Process");
      while (auto o = stream->next()) benchmark::DoNotOptimize(o);
    }
  }
  agent.join();
}
BENCHMARK(BM_Objects1000_OverProtocol)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kestrava

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  kestrava::ProcessPool pool(1000);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
