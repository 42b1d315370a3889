#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "query/QueryTool.h"
#include "service/LocalService.h"
#include "service/Providers.h"
#include "service/core/ManualClock.h"
#include "service/systemd/SystemdFixture.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using kestrava::testing::kQueryUnit;

// The built kestrava-query, running with its standard output on a pipe. Killed and reaped when
// it goes out of scope.
class QueryProgram {
 public:
  explicit QueryProgram(std::vector<std::string> args) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    args.insert(args.begin(), KESTRAVA_QUERY_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (posix_spawn(&pid_, KESTRAVA_QUERY_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
  }
  ~QueryProgram() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  // Waits (bounded) until the signal no longer ends the program by default: it blocks it (a
  // watch does before it connects) or waits for it (sigwait, which unblocks it meanwhile).
  bool waitUntilHandled(int signal) const {
    const std::string proc = "/proc/" + std::to_string(pid_);
    const std::string waiting = std::to_string(SYS_rt_sigtimedwait) + " ";
    for (int i = 0; i < 500; ++i) {
      std::ifstream status(proc + "/status"), syscall(proc + "/syscall");
      std::string line;
      if (std::getline(syscall, line) && line.starts_with(waiting)) return true;
      while (std::getline(status, line))
        if (line.starts_with("SigBlk:") &&
            (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1))
          return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // Ends it with the signal (none: lets it end by itself); its exit status, -1 when it would not.
  int finish(int signal = 0, std::chrono::milliseconds timeout = 10s) {
    if (signal) ::kill(pid_, signal);
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        while (readSome(0ms)) {
        }
        return *status_;
      }
      readSome(20ms);
    }
    return -1;
  }

  const std::string& output() const { return output_; }

 private:
  bool readSome(std::chrono::milliseconds timeout) {
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char buffer[4096];
    ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::optional<int> status_;
  std::string output_;
};

// The program's output; a refusal exits with 1.
std::string call(const std::string& method, int status = 0) {
  QueryProgram program({"--call", "Win32_Service='" + kQueryUnit + "'", method});
  EXPECT_EQ(program.finish(), status) << method;
  return program.output();
}

std::string stateOf(kestrava::Connection& connection) {
  return connection.getObject("Win32_Service='" + kQueryUnit + "'").get("State").asText();
}

// Waits (bounded) until systemd has brought the unit to the state.
bool reaches(kestrava::Connection& connection, const std::string& state) {
  for (int i = 0; i < 200 && stateOf(connection) != state; ++i) std::this_thread::sleep_for(25ms);
  return stateOf(connection) == state;
}

bool hasLine(const std::string& output, const std::string& first, const std::string& second) {
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);)
    if (line.find(first) != std::string::npos && line.find(second) != std::string::npos)
      return true;
  return false;
}

// The watch runs in this process on a service whose poller's time the test drives; the calls
// are the real program's.
TEST(QueryWatch, CallAndWatchActOnARealService) {
  NEED_SYSTEMD_FIXTURE();
  using kestrava::service::LocalService;
  auto clock = std::make_shared<kestrava::service::testing::ManualClock>();
  auto connect = [&](const std::string&,
                     const kestrava::ConnectHints&) -> std::unique_ptr<kestrava::Connection> {
    kestrava::service::ProviderList providers;
    providers.push_back(kestrava::service::makeServiceProvider());
    LocalService::Options options;
    options.clock = clock;
    return std::make_unique<LocalService>(std::move(providers), options);
  };
  auto states = connect("", {});
  if (stateOf(*states) != "Stopped") {
    call("StopService");
    ASSERT_TRUE(reaches(*states, "Stopped"));
  }

  std::ostringstream out, err;
  std::promise<void> stop;
  std::shared_future<void> stopped = stop.get_future().share();
  kestrava::query::QueryToolContext context{connect, out, err,
                                            [stopped](std::chrono::milliseconds limit) {
                                              return stopped.wait_for(limit) ==
                                                     std::future_status::ready;
                                            },
                                            [] { return std::string("T"); }};
  const auto cmd = kestrava::query::CommandLine::parse(
      {"--watch",
       "Select * from __InstanceModificationEvent Within 0.5 Where TargetInstance Isa "
       "'Win32_Service'"});
  int status = -1;
  std::thread watch;
  ASSERT_TRUE(clock->settle([&] {
    watch = std::thread([&] { status = kestrava::query::runQueryTool(cmd, {""}, context); });
  }));  // its first look only takes the snapshot
  const std::string unit = "'" + kQueryUnit + "'";
  struct Step {
    const char* method;
    const char* answer;
    const char* state;
    const char* line;
  } steps[] = {{"StartService", "0 Success\n", "Running", "State: Stopped -> Running"},
               {"PauseService", "0 Success\n", "Paused", "State: Running -> Paused"},
               {"ResumeService", "0 Success\n", "Running", "State: Paused -> Running"},
               {"StopService", "0 Success\n", "Stopped", "State: Running -> Stopped"}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.method);
    EXPECT_EQ(call(step.method), step.answer);
    ASSERT_TRUE(reaches(*states, step.state));
    EXPECT_FALSE(hasLine(out.str(), unit, step.line)) << "seen before the poller looked";
    ASSERT_TRUE(clock->advanceAndSettle(500ms));
    EXPECT_TRUE(hasLine(out.str(), unit, step.line)) << out.str();
    if (std::string(step.method) == "StartService") {
      EXPECT_EQ(call(step.method, 1), "10 Service already running\n")
          << "a running service cannot be started again";
    }
  }
  stop.set_value();
  watch.join();
  EXPECT_EQ(status, 0) << err.str();
}

// The program itself ends a watch on SIGINT with status 0.
TEST(QueryWatch, TheProgramEndsAWatchOnInterrupt) {
  NEED_SYSTEMD_FIXTURE();
  QueryProgram watch({"--watch",
                      "Select * from __InstanceModificationEvent Within 0.5 Where "
                      "TargetInstance Isa 'Win32_Service'"});
  ASSERT_TRUE(watch.waitUntilHandled(SIGINT));
  EXPECT_EQ(watch.finish(SIGINT), 0);
}

}  // namespace
