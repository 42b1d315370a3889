// kestrava-query through the loopback sshd of scripts/fixtures/sshd.sh.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/ClassSchema.h"
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

TEST_F(Sshd, ManyComputersThroughRealSshGoodAndFailingOnes) {
  const fs::path list =
      fs::temp_directory_path() / ("kestrava-hosts-" + std::to_string(::getpid()));
  const std::string user = std::getenv("USER") ? std::getenv("USER") : "root";
  std::ofstream(list) << "# the fleet\n"
                      << alias() << "\n"
                      << alias("noagent") << "   # no agent installed\n\n"
                      << user << "@" << alias() << "\n"
                      << alias("closed") << "\n";
  auto r = runProgram({"--hosts", list.string(), "--host", ".", "--format", "csv",
                       "Select Caption From Win32_OperatingSystem"});
  fs::remove(list);
  EXPECT_EQ(r.status, 1) << r.err;
  // Every answer is this computer's own, through the loopback; rows in the order named.
  std::vector<std::string> rows;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) rows.push_back(line.substr(0, line.find(',')));
  EXPECT_EQ(rows, (std::vector<std::string>{"Computer", alias(), user + "@" + alias(), "."}))
      << r.out;
  EXPECT_NE(r.err.find("kestrava-query: " + alias("noagent") + ": "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("kestrava-query: " + alias("closed") + ": "), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
}

// The real agent names its classes, so an empty result keeps its header; --sort and --limit
// take the rows of every computer together.
TEST_F(Sshd, EmptyResultsKeepTheirHeaderAndSortingSpansEveryComputer) {
  auto empty = runProgram({"--host", alias(), "--host", ".", "--format", "csv",
                           "Select Name, ProcessId From Win32_Process Where ProcessId = 0"});
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(toLowerAscii(empty.out), "computer,name,processid\n");

  // Both computers are this one: the lowest process id comes from each, in the order named.
  auto sorted = runProgram({"--host", ".", "--host", alias(), "--format", "csv", "--sort",
                            "ProcessId", "--limit", "2", "Select ProcessId From Win32_Process"});
  EXPECT_EQ(sorted.status, 0) << sorted.err;
  std::istringstream lines(sorted.out);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 3u) << sorted.out;
  const std::string lowest = rows[1].substr(rows[1].find(',') + 1);
  EXPECT_EQ(rows[1], "." + std::string(",") + lowest);
  EXPECT_EQ(rows[2], alias() + "," + lowest);

  // A later key orders within the first: every far row before every near one.
  auto byComputer =
      runProgram({"--host", ".", "--host", alias(), "--format", "csv", "--sort", "Computer:desc",
                  "--sort", "ProcessId", "--limit", "1", "Select ProcessId From Win32_Process"});
  EXPECT_EQ(byComputer.out, "Computer,ProcessID\n" + alias() + "," + lowest + "\n");
}

// Runs `command` through a shell; its standard output.
std::string outputOf(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
  }
  return out;
}

size_t connectionsLogged(const fs::path& log) {
  std::ifstream in(log);
  size_t count = 0;
  for (std::string line; std::getline(in, line);)
    count += line.rfind("Connection from ", 0) == 0 ? 1 : 0;
  return count;
}

TEST_F(Sshd, SharedConnectionsOnlyWhenAskedAndNeverAgainstTheUsersConfiguration) {
  // A configuration of the fixture's host that says nothing about sharing, from what ssh -G
  // makes of the fixture's own (which forbids it).
  const fs::path dir =
      fs::temp_directory_path() / ("kestrava-sharing-" + std::to_string(::getpid()));
  fs::create_directories(dir / "bin");
  fs::create_directories(dir / "run");
  fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
  std::istringstream given(outputOf("ssh -G -- " + alias()));
  std::ofstream config(dir / "ssh_config");
  config << "Host " << alias() << "\n";
  for (std::string line; std::getline(given, line);) {
    const std::string keyword = line.substr(0, line.find(' '));
    for (const char* wanted :
         {"hostname", "port", "user", "identityfile", "userknownhostsfile", "identitiesonly"})
      if (keyword == wanted) config << "  " << line << "\n";
  }
  config << "  IdentityAgent none\n  GlobalKnownHostsFile /dev/null\n";
  config.close();
  std::ofstream(dir / "bin/ssh") << "#!/bin/sh\nexec /usr/bin/ssh -F "
                                 << (dir / "ssh_config").string() << " \"$@\"\n";
  fs::permissions(dir / "bin/ssh", fs::perms::owner_all);
  const char* path = std::getenv("PATH");
  const std::vector<std::string> plain = {"PATH=" + (dir / "bin").string() + ":" + path,
                                          "XDG_RUNTIME_DIR=" + (dir / "run").string()};
  const fs::path sockets = dir / "run/kestrava";
  const fs::path log = fs::path(std::getenv("KESTRAVA_TEST_SSH_DIR")) / "sshd.log";
  auto socketCount = [&] {
    std::error_code ec;
    return std::distance(fs::directory_iterator(sockets, ec), fs::directory_iterator());
  };
  const std::vector<std::string> query = {"--host", alias(),
                                          "Select Caption From Win32_OperatingSystem"};
  auto withKeep = query;
  withKeep.insert(withKeep.begin(), {"--keep-connections", "30"});

  // Not asked: no master is left.
  Launch unasked{query};
  unasked.environment = plain;
  EXPECT_EQ(runProgram(unasked).status, 0);
  EXPECT_EQ(socketCount(), 0);

  // Asked: the first query leaves a master, the second one rides on it without a new log-in.
  Launch asked{withKeep};
  asked.environment = plain;
  auto first = runProgram(asked);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(socketCount(), 1);
  const size_t before = connectionsLogged(log);
  auto second = runProgram(asked);
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.out, first.out);
  EXPECT_EQ(connectionsLogged(log), before) << "the second query logged in again";
  outputOf("ssh -O exit -o ControlPath=" + (sockets / "%C").string() + " -- " + alias() +
           " 2>/dev/null");
  EXPECT_TRUE(eventually([&] { return socketCount() == 0; }));

  // The fixture's own configuration says ControlMaster no: it stays so.
  Launch theirs{withKeep};
  theirs.environment = {"XDG_RUNTIME_DIR=" + (dir / "run").string()};
  EXPECT_EQ(runProgram(theirs).status, 0);
  EXPECT_EQ(socketCount(), 0);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kestrava::query::testing
