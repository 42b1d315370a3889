// A program that holds a child started through ChildProcess ends it on every way out.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "sys/ChildCleanup.h"
#include "sys/ChildProcess.h"

namespace kestrava::sys {
namespace {

using namespace std::chrono_literals;

enum class Way { Signal, Exit, Terminate };

// Runs in the forked program: starts the child, says its pid, then leaves the way asked, without
// ever running ChildProcess's destructor.
[[noreturn]] void holdAChildThenLeave(Way way, int report) {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  endChildrenOnEveryExit();
  ChildProcess::Options options;
  options.searchPath = true;
  options.ownSession = true;
  ChildProcess sleeper({"sleep", "60"}, options);
  const pid_t pid = sleeper.pid();
  [[maybe_unused]] auto n = ::write(report, &pid, sizeof pid);
  switch (way) {
    case Way::Signal:
      for (;;) ::pause();
    case Way::Exit:
      std::exit(3);
    case Way::Terminate:
      std::thread([] { throw std::runtime_error("escaped a thread"); }).join();
  }
  std::_Exit(4);
}

// Whether the sleeper has ended: orphans come to this test process, which reaps them.
bool ended(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(10ms);
  } while (std::chrono::steady_clock::now() < deadline);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return false;
}

TEST(ChildCleanup, NoChildOutlivesItsProgramWhicheverWayItEnds) {
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  struct Case {
    Way way;
    int signal;    // sent for Way::Signal; the one the program must die of
    int exitCode;  // for Way::Exit
  };
  const Case cases[] = {{Way::Signal, SIGINT, 0}, {Way::Signal, SIGTERM, 0},
                        {Way::Signal, SIGHUP, 0}, {Way::Signal, SIGQUIT, 0},
                        {Way::Exit, 0, 3},        {Way::Terminate, SIGABRT, 0}};
  for (const auto& c : cases) {
    const std::string label =
        "way " + std::to_string(static_cast<int>(c.way)) + ", signal " + std::to_string(c.signal);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t program = ::fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
      ::close(report[0]);
      holdAChildThenLeave(c.way, report[1]);
    }
    ::close(report[1]);
    pid_t sleeper = -1;
    ASSERT_EQ(::read(report[0], &sleeper, sizeof sleeper), static_cast<ssize_t>(sizeof sleeper))
        << label;
    ::close(report[0]);
    if (c.way == Way::Signal) ::kill(program, c.signal);
    int status = 0;
    ASSERT_EQ(::waitpid(program, &status, 0), program);
    if (c.way == Way::Exit) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.exitCode) << label;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal) << label;
    }
    EXPECT_TRUE(ended(sleeper, 5s)) << label << ": the child outlived its program";
  }
}

}  // namespace
}  // namespace kestrava::sys
