#include "sys/ChildProcess.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "sys/ProcStat.h"

namespace kestrava::sys {
namespace {

using namespace std::chrono_literals;

ChildProcess shell(const std::string& script, bool ownSession = false) {
  ChildProcess::Options options;
  options.ownSession = ownSession;
  options.piped = true;
  return ChildProcess({"/bin/sh", "-c", script}, options);
}

// What the child writes up to its first line break (or to the end), read with a bound.
std::string readOutput(int fd, bool wholeOutput = false) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while ((wholeOutput || text.find('\n') == std::string::npos) &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

std::optional<char> stateOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::stringstream text;
  text << in.rdbuf();
  return parseProcState(text.str());
}

// Whether the process has ended (a zombie or gone) within the limit.
bool endsWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    const auto state = stateOf(pid);
    if (!state || *state == 'Z') return true;
    std::this_thread::sleep_for(10ms);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

// A child in its own session leads a process group that holds what it started: a kill ends them
// all, but a child that has ended by itself leaves what it started alone (a daemon, say).
TEST(ChildProcess, OnlyAKillReachesWhatAChildInItsOwnSessionStarted) {
  for (const bool endsByItself : {false, true}) {
    SCOPED_TRACE(endsByItself ? "ended by itself" : "killed");
    pid_t shellPid = -1, sleeper = -1;
    {
      ChildProcess child = shell(
          std::string("sleep 60 >/dev/null 2>&1 & echo $!") + (endsByItself ? "" : "; wait"), true);
      shellPid = child.pid();
      sleeper = std::atoi(readOutput(child.stdio()).c_str());
      ASSERT_GT(sleeper, 0);
      // Ended, not yet reaped: what the destructor finds when a script returns before it goes.
      if (endsByItself) {
        ASSERT_TRUE(endsWithin(shellPid, 5s));
      }
    }
    EXPECT_FALSE(stateOf(shellPid)) << "reaped";
    const bool sleeperEnded = endsWithin(sleeper, endsByItself ? 300ms : 5s);
    EXPECT_EQ(sleeperEnded, !endsByItself);
    if (!sleeperEnded) ::kill(sleeper, SIGKILL);
  }
}

TEST(ChildProcess, InheritsNoDescriptorButItsStandardThree) {
  int leaky[2];
  ASSERT_EQ(::pipe(leaky), 0);  // without O_CLOEXEC, as another library might open one
  ChildProcess child = shell("ls /proc/$$/fd; :");  // the ':' keeps the shell from exec'ing ls
  std::set<std::string> listed;
  std::istringstream in(readOutput(child.stdio(), true));
  for (std::string fd; in >> fd;) listed.insert(fd);
  EXPECT_TRUE(listed.count("2")) << in.str();
  EXPECT_FALSE(listed.count(std::to_string(leaky[0]))) << in.str();
  EXPECT_FALSE(listed.count(std::to_string(leaky[1]))) << in.str();
  ::close(leaky[0]);
  ::close(leaky[1]);
}

}  // namespace
}  // namespace kestrava::sys
