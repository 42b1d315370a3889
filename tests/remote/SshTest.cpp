#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "remote/ConnectErrors.h"
#include "remote/RemoteConnection.h"
#include "remote/RemoteTestSupport.h"
#include "remote/SshTransport.h"

namespace kestrava::remote {
namespace {

namespace fs = std::filesystem;

// ---- names handed to ssh ----

class AcceptedName : public ::testing::TestWithParam<const char*> {};
TEST_P(AcceptedName, IsHandedToSsh) {
  EXPECT_NO_THROW(checkRemoteName(GetParam()));
}
INSTANTIATE_TEST_SUITE_P(Names, AcceptedName,
                         ::testing::Values("server", "server.example.com", "admin@server",
                                           "build_box-2", "10.0.0.7", "::1", "fe80::1%eth0",
                                           "first.last@host", "a+b"));

struct RefusedName {
  std::string name;
  const char* says;
};
void PrintTo(const RefusedName& c, std::ostream* os) {
  *os << c.name;
}
class RefusedNames : public ::testing::TestWithParam<RefusedName> {};
TEST_P(RefusedNames, FailBeforeAnythingRuns) {
  try {
    checkRemoteName(GetParam().name);
    FAIL() << "accepted " << GetParam().name;
  } catch (const ComError& e) {
    EXPECT_EQ(e.source(), "SWbemLocator");
    EXPECT_EQ(e.number(), err::kWbemInvalidParameter);
    EXPECT_NE(e.description().find(GetParam().says), std::string::npos) << e.description();
    EXPECT_NE(e.description().find("did not try to reach it"), std::string::npos);
  }
}
INSTANTIATE_TEST_SUITE_P(
    Names, RefusedNames,
    ::testing::Values(RefusedName{"-oProxyCommand=touch /tmp/x", "begins with \"-\""},
                      RefusedName{"-p22", "read as an option"},
                      RefusedName{"my host", "blank or a control character"},
                      RefusedName{"host\tname", "blank or a control"},
                      RefusedName{"host\nProxyCommand x", "\"host\\x0AProxyCommand x\""},
                      RefusedName{std::string("ho\0st", 5), "control character"},
                      RefusedName{"host\x7f", "control character"}, RefusedName{"ho;st", "holds ;"},
                      RefusedName{"$(reboot)", "holds $"}, RefusedName{"`id`", "holds `"},
                      RefusedName{"host'", "holds '"}, RefusedName{"a\"b", "holds \""},
                      RefusedName{"ssh://host", "holds /"}, RefusedName{"[::1]", "holds ["},
                      RefusedName{"caf\xc3\xa9", "holds \\xC3"},
                      RefusedName{"user@-oProxyCommand=x", "user@host"},
                      RefusedName{"@host", "user@host"}, RefusedName{"user@", "user@host"},
                      RefusedName{"a@b@c", "user@host"},
                      RefusedName{std::string(400, 'h'), "too long"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

// ---- what ssh's exit and complaints mean ----

struct SshOutcome {
  const char* name;
  int exitCode;
  const char* stderrText;
  int32_t number;
  std::vector<const char*> says;
};
void PrintTo(const SshOutcome& c, std::ostream* os) {
  *os << c.name;
}

class SshOutcomes : public ::testing::TestWithParam<SshOutcome> {};

TEST_P(SshOutcomes, BecomeAPlainWordsLocatorError) {
  const auto& c = GetParam();
  ComError e = sshEnded("far", c.exitCode << 8, c.stderrText);
  EXPECT_EQ(e.number(), c.number) << c.name;
  EXPECT_EQ(e.source(), "SWbemLocator");
  for (const char* part : c.says)
    EXPECT_NE(e.description().find(part), std::string::npos) << c.name << ": " << e.description();
  EXPECT_EQ(e.description().back(), ' ') << "the source follows the description directly";
}

INSTANTIATE_TEST_SUITE_P(
    Stderr, SshOutcomes,
    ::testing::Values(
        SshOutcome{"unknown host",
                   255,
                   "ssh: Could not resolve hostname far: Name or service not known\r\n",
                   err::kRpcServerUnavailable,
                   {"The computer \"far\" is unknown",
                    "(ssh: Could not resolve hostname far: Name or service not known)."}},
        SshOutcome{"refused",
                   255,
                   "ssh: connect to host 10.0.0.1 port 22: Connection refused\n",
                   err::kRpcServerUnavailable,
                   {"\"far\" refused the connection: no SSH server is listening there"}},
        SshOutcome{"timed out",
                   255,
                   "ssh: connect to host 10.0.0.1 port 22: Connection timed out\n",
                   err::kRpcServerUnavailable,
                   {"did not answer: the connection timed out"}},
        SshOutcome{"keep-alive unanswered",
                   255,
                   "Timeout, server far not responding.\n",
                   err::kRpcServerUnavailable,
                   {"\"far\" stopped answering", "(ssh: Timeout, server far not responding)."}},
        SshOutcome{"no route",
                   255,
                   "ssh: connect to host x port 22: No route to host\n",
                   err::kRpcServerUnavailable,
                   {"cannot be reached over the network"}},
        SshOutcome{"authentication",
                   255,
                   "root@10.0.0.1: Permission denied (publickey).\n",
                   err::kWbemAccessDenied,
                   {"\"far\" refused the login: authentication failed",
                    "Permission denied (publickey)", "never asks for a password"}},
        SshOutcome{"host key changed",
                   255,
                   "@@@@@\n@    WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!     @\n"
                   "Host key verification failed.\n",
                   err::kWbemAccessDenied,
                   {"The host key of \"far\" has changed", "ssh-keygen -R"}},
        SshOutcome{"host key unknown",
                   255,
                   "Host key verification failed.\n",
                   err::kWbemAccessDenied,
                   {"The host key of \"far\" is not known yet", "Connect once with ssh"}},
        SshOutcome{"agent missing (bash)",
                   127,
                   "bash: line 1: kestrava-agent: command not found\n",
                   err::kRpcServerUnavailable,
                   {"Kestrava's agent is not installed on \"far\"", "was not found on the PATH",
                    "Install the package kestrava-agent on that computer."}},
        SshOutcome{"agent missing (dash)",
                   127,
                   "sh: 1: kestrava-agent: not found\n",
                   err::kRpcServerUnavailable,
                   {"agent is not installed"}},
        SshOutcome{"agent not executable",
                   126,
                   "bash: line 1: /opt/bin/kestrava-agent: Permission denied\n",
                   err::kRpcServerUnavailable,
                   {"kestrava-agent on \"far\" cannot be run"}},
        SshOutcome{"other ssh failure",
                   255,
                   "Bad owner or permissions on /root/.ssh/config\n",
                   err::kRpcServerUnavailable,
                   {"ssh could not connect to \"far\"", "Bad owner or permissions"}},
        SshOutcome{"agent ended quietly",
                   0,
                   "",
                   err::kRpcServerUnavailable,
                   {"The agent on \"far\" ended without answering (exit status 0)"}},
        SshOutcome{"escape sequences in stderr",
                   255,
                   "\x1b[31mevil\x1b[0m\n",
                   err::kRpcServerUnavailable,
                   {"\\x1B[31mevil\\x1B[0m"}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(SshOutcomes, ASignalIsNamed) {
  ComError e = sshEnded("far", SIGKILL, "");
  EXPECT_NE(e.description().find("ssh ended by signal 9"), std::string::npos) << e.description();
}

// ---- the child process ----

// A folder of small programs that stand in for ssh, removed at the end.
class FakePrograms : public ::testing::Test {
 protected:
  FakePrograms() {
    char pattern[] = "/tmp/kestrava-ssh-test.XXXXXX";
    dir_ = ::mkdtemp(pattern);
  }
  ~FakePrograms() override { fs::remove_all(dir_); }

  std::string program(const std::string& name, const std::string& body) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  static int readPid(const std::string& file) {
    for (int i = 0; i < 200 && !fs::exists(file); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int pid = 0;
    std::ifstream(file) >> pid;
    return pid;
  }

  std::string dir_;
};

TEST_F(FakePrograms, AChildIsRunWithoutAShellAndReaped) {
  auto echo = program("echo-args", "for a in \"$@\"; do printf '[%s]' \"$a\"; done; echo oops >&2");
  pid_t pid;
  {
    sys::ChildProcess child = startSsh({echo, "-T", "a b", "$(id)"});
    pid = child.pid();
    EXPECT_EQ(testing::readToEnd(child.stdio()), "[-T][a b][$(id)]");
    EXPECT_EQ(testing::readToEnd(child.stderrFd()), "oops\n");
    auto status = child.waitFor(std::chrono::seconds(5));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(WEXITSTATUS(*status), 0);
  }
  EXPECT_FALSE(testing::processExists(pid));
}

TEST_F(FakePrograms, AChildThatIgnoresItsEndIsKilledAndReaped) {
  auto stubborn = program("stubborn", "trap '' TERM HUP PIPE\nwhile :; do sleep 0.05; done");
  int before = testing::openDescriptors();
  pid_t pid;
  auto started = std::chrono::steady_clock::now();
  {
    sys::ChildProcess child = startSsh({stubborn});
    pid = child.pid();
  }
  EXPECT_FALSE(testing::processExists(pid)) << "no zombie";
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
  EXPECT_EQ(testing::openDescriptors(), before) << "no descriptor left behind";
}

TEST_F(FakePrograms, AChildInheritsNoneOfTheDescriptorsOfAnotherConnection) {
  auto lister = program("list-fds", "ls /proc/$$/fd");
  auto sleeper = program("sleeper", "exec sleep 5");
  sys::ChildProcess first = startSsh({sleeper});
  sys::ChildProcess second = startSsh({lister});
  std::string fds = testing::readToEnd(second.stdio());
  std::set<std::string> listed;
  std::istringstream in(fds);
  for (std::string fd; in >> fd;) listed.insert(fd);
  EXPECT_FALSE(listed.count(std::to_string(first.stdio()))) << fds;
  EXPECT_FALSE(listed.count(std::to_string(first.stderrFd()))) << fds;
}

TEST_F(FakePrograms, AMissingSshIsSaidPlainly) {
  SshOptions options;
  options.sshProgram = path("no-such-ssh");
  try {
    connectOverSsh("server", options);
    FAIL() << "connected without ssh";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("The ssh program was not found on PATH"), std::string::npos)
        << e.description();
    EXPECT_EQ(e.source(), "SWbemLocator");
  }
}

TEST_F(FakePrograms, SshGetsItsFixedArgumentsAndARefusedNameRunsNothing) {
  auto ssh = program("ssh", "echo \"$@\" > " + path("args") + "\nexit 255");
  SshOptions options;
  options.sshProgram = ssh;
  EXPECT_THROW(connectOverSsh("admin@server", options), ComError);
  std::string args;
  std::getline(std::ifstream(path("args")), args);
  EXPECT_EQ(args,
            "-T -o BatchMode=yes -o ServerAliveInterval=5 -o ServerAliveCountMax=3 -- admin@server "
            "kestrava-agent");
  fs::remove(path("args"));
  EXPECT_THROW(connectOverSsh("-oProxyCommand=touch " + path("marker"), options), ComError);
  EXPECT_FALSE(fs::exists(path("args"))) << "ssh ran for a refused name";
  EXPECT_FALSE(fs::exists(path("marker")));
}

TEST_F(FakePrograms, ASilentPeerIsGivenUpOnAndItsSshReaped) {
  auto ssh = program("ssh", "echo $$ > " + path("pid") + "\nexec sleep 30");
  SshOptions options;
  options.sshProgram = ssh;
  options.limits.handshake = std::chrono::milliseconds(400);
  try {
    connectOverSsh("server", options);
    FAIL() << "connected to a silent peer";
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("\"server\" did not answer within 400 milliseconds"),
              std::string::npos)
        << e.description();
    EXPECT_EQ(e.number(), err::kRpcServerUnavailable);
  }
  int pid = readPid(path("pid"));
  ASSERT_GT(pid, 0);
  EXPECT_FALSE(testing::processExists(pid)) << "the silent ssh is gone, not a zombie";
}

TEST_F(FakePrograms, SshsOwnComplaintAndExitBecomeTheConnectError) {
  auto ssh = program(
      "ssh", "echo 'ssh: connect to host server port 22: Connection refused' >&2\nexit 255");
  SshOptions options;
  options.sshProgram = ssh;
  try {
    connectOverSsh("server", options);
    FAIL();
  } catch (const ComError& e) {
    EXPECT_NE(e.description().find("\"server\" refused the connection"), std::string::npos)
        << e.description();
  }
}

}  // namespace
}  // namespace kestrava::remote
