// kestrava-query through the loopback sshd of scripts/fixtures/sshd.sh.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "query/ProgramRun.h"

namespace kestrava::query::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Sshd : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* host = std::getenv("KESTRAVA_TEST_SSH_HOST");
    const char* dir = std::getenv("KESTRAVA_TEST_SSH_DIR");
    if (!host || !dir) {
      const char* required = std::getenv("KESTRAVA_REQUIRE_FIXTURES");
      if (required && std::string(required) == "1")
        FAIL() << "the sshd fixture is required but KESTRAVA_TEST_SSH_HOST/DIR are not set";
      GTEST_SKIP() << "no loopback sshd (start scripts/fixtures/sshd.sh)";
    }
    host_ = host;
    link(KESTRAVA_AGENT_PROGRAM, fs::path(dir) / "agents/real/kestrava-agent");
    link(KESTRAVA_FAKE_AGENT_PROGRAM, fs::path(dir) / "agents/fake/kestrava-agent");
  }

  // Replaces the link in one step: other tests may be connecting through it at this moment.
  static void link(const fs::path& target, const fs::path& at) {
    fs::path temporary = at;
    temporary += ".new" + std::to_string(::getpid());
    fs::remove(temporary);
    fs::create_symlink(target, temporary);
    fs::rename(temporary, at);
  }

  std::string alias(const std::string& suffix = {}) const {
    return suffix.empty() ? host_ : host_ + "-" + suffix;
  }

  std::string host_;
};

// Running, as opposed to gone or a zombie waiting to be reaped.
bool isRunning(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return false;
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

TEST_F(Sshd, NoSshAndNoAgentOutliveAQueryEndedBySignalWhileTheFarSideHangs) {
  const std::string hanging = "KESTRAVA_FAKE_AGENT=hang";
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    std::vector<pid_t> ssh;
    Launch launch{{"--host", alias("hang"), "--format", "csv", "Select * From Kestrava_Fake"}};
    launch.signal = signal;
    // The far side has answered one object and hangs before the next.
    launch.ready = [&](pid_t pid) {
      ssh = childrenOf(pid);
      return !ssh.empty() && !processesWithEnvironment(hanging).empty();
    };
    launch.signalAfter = 700ms;
    auto r = runProgram(launch);
    EXPECT_EQ(r.killedBy, signal) << r.err;
    ASSERT_FALSE(ssh.empty()) << "signal " << signal;
    EXPECT_TRUE(eventually([&] {
      for (pid_t pid : ssh)
        if (isRunning(pid)) return false;
      return true;
    })) << "signal "
        << signal << ": ssh outlived kestrava-query";
    EXPECT_TRUE(eventually([&] { return processesWithEnvironment(hanging).empty(); }))
        << "signal " << signal << ": the agent outlived kestrava-query";
  }
}

}  // namespace
}  // namespace kestrava::query::testing
