#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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

  // Reads until a line of the output holds both texts, or the time is up.
  bool waitForLine(const std::string& first, const std::string& second,
                   std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (!hasLine(first, second)) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0 || !readSome(left)) return false;
    }
    return true;
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
  bool hasLine(const std::string& first, const std::string& second) const {
    std::istringstream lines(output_);
    for (std::string line; std::getline(lines, line);)
      if (line.find(first) != std::string::npos && line.find(second) != std::string::npos)
        return true;
    return false;
  }

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

std::string call(const std::string& method) {
  QueryProgram program({"--call", "Win32_Service='" + kQueryUnit + "'", method});
  EXPECT_EQ(program.finish(), 0) << method;
  return program.output();
}

TEST(QueryWatch, CallAndWatchActOnARealService) {
  NEED_SYSTEMD_FIXTURE();
  if (call("StopService") == "0\n") std::this_thread::sleep_for(500ms);

  QueryProgram watch({"--watch",
                      "Select * from __InstanceModificationEvent Within 0.5 Where "
                      "TargetInstance Isa 'Win32_Service'"});
  std::this_thread::sleep_for(
      2500ms);  // its first look only takes the snapshot, even on a busy machine
  EXPECT_EQ(call("StartService"), "0\n");
  // The change is seen within the interval (0.5 s), give or take one enumeration.
  const std::string unit = "'" + kQueryUnit + "'";
  EXPECT_TRUE(watch.waitForLine(unit, "State: Stopped -> Running", 2500ms)) << watch.output();
  EXPECT_EQ(call("StartService"), "10\n");
  EXPECT_EQ(call("PauseService"), "0\n");
  EXPECT_TRUE(watch.waitForLine(unit, "State: Running -> Paused", 2500ms)) << watch.output();
  EXPECT_EQ(call("ResumeService"), "0\n");
  EXPECT_EQ(call("StopService"), "0\n");
  EXPECT_TRUE(watch.waitForLine(unit, "-> Stopped", 2500ms)) << watch.output();
  EXPECT_EQ(watch.finish(SIGINT), 0);
}

}  // namespace
