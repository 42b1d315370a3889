#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/ClassSchema.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

struct Outcome {
  int status = -1;  // exit status, or -1 when killed by a signal
  std::string out, err;
};

bool maskHas(const std::string& statusFile, int signal) {
  std::ifstream status(statusFile);
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigBlk:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    return (mask >> (signal - 1)) & 1;
  }
  return false;
}

// Whether the program is ready to be interrupted: some thread holds the signal blocked (a
// thread in sigwait shows it unblocked while it waits), or the main thread waits for it.
bool blocks(pid_t pid, int signal) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream wchan(proc + "/wchan");
  std::string waitingIn;
  std::getline(wchan, waitingIn);
  if (waitingIn.find("sigtimedwait") != std::string::npos) return true;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(proc + "/task", ec))
    if (maskHas(task.path().string() + "/status", signal)) return true;
  return false;
}

// Runs the built kestrava-query; when `signal` is given, sends it `signalAfter` after the
// program has blocked it. Bounded: a program still running after 20 s is killed and the test
// fails.
Outcome runProgram(const std::vector<std::string>& args, std::optional<int> signal = {},
                   std::chrono::milliseconds signalAfter = 0ms) {
  int outPipe[2], errPipe[2];
  EXPECT_EQ(pipe2(outPipe, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(errPipe, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<std::string> all{KESTRAVA_QUERY_PROGRAM};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  Outcome outcome;
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << argv[0];
    close(outPipe[0]);
    close(errPipe[0]);
    return outcome;
  }
  const auto start = std::chrono::steady_clock::now();
  bool signalled = !signal;
  std::optional<std::chrono::steady_clock::time_point> readyAt;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  int open = 2;
  while (open > 0) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!signalled && !readyAt && blocks(pid, *signal)) readyAt = std::chrono::steady_clock::now();
    if (!signalled && readyAt && std::chrono::steady_clock::now() - *readyAt >= signalAfter) {
      kill(pid, *signal);
      signalled = true;
    }
    if (elapsed > 20s) {
      ADD_FAILURE() << "kestrava-query did not end";
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, 10) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

TEST(QueryProgram, HelpAndVersion) {
  auto help = runProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: kestrava-query"), std::string::npos);
  EXPECT_EQ(help.err, "");

  auto version = runProgram({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("kestrava-query ") + KESTRAVA_VERSION + "\n");
}

TEST(QueryProgram, UsageErrorsExitWithTwo) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"--format", "xml", "Select * From Win32_Process"}, {"--bogus"}, {"--call", "x"}}) {
    auto r = runProgram(args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("kestrava-query: "), std::string::npos);
  }
}

TEST(QueryProgram, ServiceErrorsGoToStandardErrorWithTheirNumbers) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"Select Name Fro Win32_Process"}, "Invalid query (0x80041017, -2147217385)"},
      {{"Select * From Kestrava_NoSuchClass"}, "Invalid class (0x80041010, -2147217392)"},
      {{"--get", "Win32_Process='1"}, "Invalid object path (0x8004103A, -2147217350)"},
      {{"--get", "Win32_Process='no such process'"}, "Not found (0x80041002, -2147217406)"},
      {{"--call", "Kestrava_NoSuchClass='x'", "StopService"},
       "Invalid class (0x80041010, -2147217392)"},
      {{"--watch", "Select * From Win32_Process"}, "Invalid query (0x80041017, -2147217385)"},
  };
  for (const auto& c : cases) {
    auto r = runProgram(c.args);
    EXPECT_EQ(r.status, 1) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.err, std::string("kestrava-query: ") + c.message + "\n")
        << ::testing::PrintToString(c.args);
  }
}

TEST(QueryProgram, QueriesThisComputer) {
  auto r = runProgram(
      {"--format", "csv",
       "Select ProcessId, Name From Win32_Process Where ProcessId = " + std::to_string(getpid())});
  EXPECT_EQ(r.status, 0) << r.err;
  // Names keep the class's own spelling; they compare without regard to case.
  EXPECT_EQ(kestrava::toLowerAscii(r.out.substr(0, r.out.find('\n'))), "processid,name") << r.out;
  EXPECT_NE(r.out.find("\n" + std::to_string(getpid()) + ","), std::string::npos) << r.out;
}

TEST(QueryProgram, WatchEndsCleanlyOnSigintAndSigterm) {
  for (int signal : {SIGINT, SIGTERM}) {
    const auto start = std::chrono::steady_clock::now();
    auto r = runProgram({"--watch",
                         "Select * from __InstanceModificationEvent Within 0.1 Where "
                         "TargetInstance Isa 'Win32_Processor'"},
                        signal, 300ms);
    EXPECT_EQ(r.status, 0) << "signal " << signal << ": " << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  }
}

}  // namespace
