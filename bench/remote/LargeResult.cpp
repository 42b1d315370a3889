// A large query result through the protocol, with each side's peak memory:
//   remote_large_result [--objects N] [--bytes B] [--pause-ms P]
// kestrava-agent's session (AgentSession over LocalService, as the agent runs it) serves N objects
// of B bytes each (default 400 of 1 MiB) from a child process; this process reads them through a
// RemoteConnection over a socket pair, pausing P ms after each object (a slow consumer; default
// 5). Prints the peak resident memory (VmHWM) of both processes. Results: docs/benchmarks.md.
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "remote/AgentSession.h"
#include "remote/RemoteConnection.h"
#include "service/LocalService.h"
#include "sys/UniqueFd.h"

extern char** environ;

namespace kestrava {
namespace {

struct Options {
  long objects = 400;
  long bytes = 1 << 20;
  long pauseMs = 5;
};

// Yields `count` objects, each with a text of `bytes` bytes made when it is asked for.
class BlobProvider final : public service::ClassProvider {
 public:
  BlobProvider(long count, long bytes) : count_(count), bytes_(bytes) {}
  const SchemaPtr& schema() const override { return schema_; }
  void enumerate(const service::PropertySet&,
                 const std::function<bool(ManagementObject&&)>& sink) override {
    for (long i = 0; i < count_; ++i) {
      ManagementObject object(schema_);
      object.set("Name", Value::text(std::to_string(i)));
      object.set("Data", Value::text(std::string(static_cast<size_t>(bytes_),
                                                 static_cast<char>('a' + i % 26))));
      if (!sink(std::move(object))) return;
    }
  }

 private:
  long count_, bytes_;
  SchemaPtr schema_ = std::make_shared<const ClassSchema>("Bench_Blob", "Name",
                                                          std::vector<std::string>{"Name", "Data"});
};

class SocketTransport final : public remote::Transport {
 public:
  explicit SocketTransport(int fd) : fd_(fd) {}
  int inputFd() const override { return fd_.get(); }
  int outputFd() const override { return fd_.get(); }
  ComError endedBeforeHello(const std::string&) override {
    return ComError(1, "the agent ended ", "bench");
  }
  std::string endReason(const std::string&) override { return "the agent ended"; }

 private:
  sys::UniqueFd fd_;
};

// Peak resident memory of a process in MiB, from /proc.
double peakMiB(const std::string& pid) {
  std::ifstream status("/proc/" + pid + "/status");
  for (std::string key; status >> key;) {
    if (key == "VmHWM:") {
      double kib = 0;
      status >> kib;
      return kib / 1024;
    }
  }
  return -1;
}

int runAgent(const Options& options) {
  remote::AgentSession session(STDIN_FILENO, STDOUT_FILENO, [&] {
    service::ProviderList providers;
    providers.push_back(std::make_unique<BlobProvider>(options.objects, options.bytes));
    return std::make_unique<service::LocalService>(std::move(providers));
  });
  return session.run();
}

int runClient(const Options& options, const char* self) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::string objects = std::to_string(options.objects), bytes = std::to_string(options.bytes);
  const char* argv[] = {self,      "--agent",     "--objects", objects.c_str(),
                        "--bytes", bytes.c_str(), nullptr};
  pid_t agent = 0;
  int spawned = posix_spawn(&agent, self, &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (spawned != 0) return 1;

  const double before = peakMiB("self");
  auto started = std::chrono::steady_clock::now();
  long received = 0, wrong = 0;
  {
    remote::RemoteConnection connection(std::make_unique<SocketTransport>(fds[0]), "bench");
    auto stream = connection.execQuery("Select * From Bench_Blob");
    while (auto object = stream->next()) {
      if (object->get("Data").asText().size() != static_cast<size_t>(options.bytes)) ++wrong;
      ++received;
      object.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(options.pauseMs));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("objects: %ld of %ld bytes (%.0f MiB in all), %ld ms pause after each\n", received,
                options.bytes, received * static_cast<double>(options.bytes) / (1 << 20),
                options.pauseMs);
    std::printf("client peak resident: %.1f MiB (%.1f MiB before connecting)\n", peakMiB("self"),
                before);
    std::printf("agent peak resident:  %.1f MiB\n", peakMiB(std::to_string(agent)));
    std::printf("wall time: %.2f s\n", seconds);
  }
  int status = 0;
  ::waitpid(agent, &status, 0);
  return received == options.objects && wrong == 0 ? 0 : 1;
}

}  // namespace
}  // namespace kestrava

int main(int argc, char** argv) {
  kestrava::Options options;
  bool agent = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&] { return i + 1 < argc ? std::atol(argv[++i]) : 0L; };
    if (arg == "--agent")
      agent = true;
    else if (arg == "--objects")
      options.objects = value();
    else if (arg == "--bytes")
      options.bytes = value();
    else if (arg == "--pause-ms")
      options.pauseMs = value();
    else
      return std::fprintf(stderr, "usage: %s [--objects N] [--bytes B] [--pause-ms P]\n", argv[0]),
             64;
  }
  return agent ? kestrava::runAgent(options) : kestrava::runClient(options, "/proc/self/exe");
}
