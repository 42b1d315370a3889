#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "connect/Connector.h"
#include "remote/LoopbackRelay.h"
#include "remote/RemoteConnection.h"
#include "remote/RemoteTestSupport.h"
#include "sys/ChildProcess.h"

namespace kestrava::remote {
namespace {

namespace fs = std::filesystem;

// The loopback sshd of scripts/fixtures/sshd.sh: its host alias and folder, with this build's
// agent and fake agent linked where the aliases' logins find them.
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
    dir_ = dir;
    link(KESTRAVA_AGENT_PROGRAM, dir_ / "agents/real/kestrava-agent");
    link(KESTRAVA_FAKE_AGENT_PROGRAM, dir_ / "agents/fake/kestrava-agent");
    // As if the agent's package were installed here: only the noagent login must not find it.
    link(KESTRAVA_AGENT_PROGRAM, dir_ / "agents/installed/kestrava-agent");
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

  static ComError connectError(const std::string& computer) {
    try {
      connectComputer(computer);
    } catch (const ComError& e) {
      return e;
    }
    return ComError(0, "connected", "");
  }

  // The loopback sshd's own port, from its configuration.
  int sshdPort() const {
    std::ifstream config(dir_ / "sshd_config");
    for (std::string key; config >> key;) {
      int port = 0;
      if (key == "Port" && config >> port) return port;
    }
    return 0;
  }

  // A program standing in for ssh that runs the fixture's ssh with these options first.
  std::string sshWith(const std::string& options) {
    fs::path program =
        dir_ / ("ssh-with-" + std::to_string(::getpid()) + "-" + std::to_string(programs_++));
    std::ofstream(program) << "#!/bin/sh\nexec ssh " << options << " \"$@\"\n";
    fs::permissions(program, fs::perms::owner_all);
    return program;
  }

  std::string host_;
  fs::path dir_;
  int programs_ = 0;
};

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<ManagementObject> drain(ObjectStream& stream) {
  std::vector<ManagementObject> out;
  while (auto o = stream.next()) out.push_back(std::move(*o));
  return out;
}

// The objects of a query by key, or the error it gave.
struct Answer {
  std::map<std::string, ManagementObject> objects;
  std::optional<ComError> error;
};

Answer ask(Connection& connection, const std::string& wql) {
  Answer answer;
  try {
    for (auto& o : drain(*connection.execQuery(wql))) {
      auto& key = o.schema()->keyProperty();
      answer.objects.emplace(key.empty() ? o.className() : o.get(key).debugString(), o);
    }
  } catch (const ComError& e) {
    answer.error = e;
  }
  return answer;
}

// The differences between a read over ssh and the local reads around it, for the properties
// that held still between the two local reads; `compared` counts those properties.
std::vector<std::string> differences(const char* cls, const Answer& before, const Answer& far,
                                     const Answer& after, size_t& compared) {
  std::vector<std::string> found;
  compared = 0;
  for (const auto& [key, b] : before.objects) {
    auto a = after.objects.find(key);
    auto f = far.objects.find(key);
    if (a == after.objects.end()) continue;
    if (f == far.objects.end()) {
      found.push_back(std::string(cls) + " " + key + " is missing over ssh");
      continue;
    }
    if (f->second.schema()->properties() != b.schema()->properties()) {
      found.push_back(std::string(cls) + " " + key + " has other properties over ssh");
      continue;
    }
    for (size_t i = 0; i < b.values().size(); ++i) {
      const std::string& name = b.schema()->properties()[i];
      const Value& here = b.values()[i];
      const Value& there = f->second.values()[i];
      const bool held = here == a->second.values()[i];
      // A load is sampled afresh by each connection: only its kind is fixed.
      const bool sampled = name == "LoadPercentage";
      if (sampled ? there.kind() != here.kind() : held && !(there == here))
        found.push_back(std::string(cls) + " " + key + "." + name + ": " + there.debugString() +
                        " over ssh, " + here.debugString() + " here");
      if (held && !sampled) ++compared;
    }
  }
  return found;
}

TEST_F(Sshd, TheViewQueriesGiveTheSameAnswersOverSshAsLocally) {
  auto remote = connectComputer(alias());
  auto local = connectComputer(".");
  // Over loopback the far side is this computer: every property that holds still between two
  // local reads must come back over ssh with the same value and kind. A count can come back to
  // the same value while the far read saw a passing process of another test, so a class whose
  // values differ is read again: a difference the transport makes shows in every round.
  constexpr int kRounds = 3;
  for (const char* cls : {"Win32_ComputerSystem", "Win32_OperatingSystem", "Win32_Processor",
                          "Win32_LogicalDisk", "Win32_NTEventLogFile", "Win32_Service"}) {
    std::string wql = std::string("Select * From ") + cls;
    std::vector<std::string> found;
    size_t compared = 0;
    for (int round = 0; round < kRounds; ++round) {
      Answer before = ask(*local, wql);
      Answer far = ask(*remote, wql);
      Answer after = ask(*local, wql);
      if (before.error) {
        ASSERT_TRUE(far.error.has_value()) << cls << " fails locally but not over ssh";
        EXPECT_EQ(far.error->number(), before.error->number()) << cls;
        EXPECT_EQ(far.error->description(), before.error->description()) << cls;
        EXPECT_EQ(far.error->source(), before.error->source()) << cls;
        found.clear();
        compared = 1;
        break;
      }
      ASSERT_FALSE(far.error.has_value()) << cls << ": " << far.error->description();
      EXPECT_EQ(far.objects.size() > 0, before.objects.size() > 0) << cls;
      found = differences(cls, before, far, after, compared);
      if (before.objects.empty()) compared = 1;
      if (found.empty()) break;
    }
    for (const auto& difference : found) ADD_FAILURE() << difference;
    EXPECT_GT(compared, 0u) << cls << ": nothing held still";
    RecordProperty(cls, static_cast<int>(compared));
  }
}

TEST_F(Sshd, ProcessesOverSshIncludeThisTestWithItsName) {
  auto remote = connectComputer(alias());
  auto local = connectComputer(".");
  Answer far = ask(*remote, "Select * From Win32_Process");
  Answer here = ask(*local, "Select * From Win32_Process");
  if (here.error) {
    ASSERT_TRUE(far.error.has_value());
    EXPECT_EQ(far.error->description(), here.error->description());
    return;
  }
  ASSERT_FALSE(far.error.has_value()) << far.error->description();
  auto me = std::to_string(::getpid());
  ASSERT_TRUE(far.objects.count(me) && here.objects.count(me));
  EXPECT_EQ(far.objects.at(me).get("Name"), here.objects.at(me).get("Name"));
}

TEST_F(Sshd, AProcessStartedAndEndedIsWatchedOverSshWithAConditionOnTheTarget) {
  std::mutex mutex;
  std::vector<std::string> seen;
  auto saw = [&](const std::string& event) {
    for (int i = 0; i < 100; ++i) {
      {
        std::lock_guard lock(mutex);
        if (std::find(seen.begin(), seen.end(), event) != seen.end()) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  };
  auto record = [&](const EventObject& e) {
    std::lock_guard lock(mutex);
    seen.push_back(e.className + " " + e.target.get("Name").asText());
  };
  auto remote = connectComputer(alias());
  const std::string mine =
      " Where TargetInstance Isa 'Win32_Process' And "
      "TargetInstance.ParentProcessID = " +
      std::to_string(::getpid());
  auto created =
      remote->subscribe("Select * From __InstanceCreationEvent Within 0.1" + mine, record);
  auto deleted =
      remote->subscribe("Select * From __InstanceDeletionEvent Within 0.1" + mine, record);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the watch's first look
  {
    sys::ChildProcess::Options options;
    options.searchPath = true;
    sys::ChildProcess sleeper({"sleep", "30"}, options);
    EXPECT_TRUE(saw("__InstanceCreationEvent sleep")) << "no creation came over ssh";
    sleeper.kill();
  }
  EXPECT_TRUE(saw("__InstanceDeletionEvent sleep")) << "no deletion came over ssh";
  remote->cancel(created);
  remote->cancel(deleted);
  std::lock_guard lock(mutex);
  EXPECT_EQ(seen.size(), 2u) << "an event of another process passed the condition";
}

TEST_F(Sshd, ANameBeginningWithADashRunsNothing) {
  fs::path marker = dir_ / ("proxy-marker-" + std::to_string(::getpid()));
  ComError e = connectError("-oProxyCommand=touch " + marker.string());
  EXPECT_EQ(e.source(), "SWbemLocator");
  EXPECT_TRUE(has(e.description(), "begins with \"-\"")) << e.description();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(fs::exists(marker)) << "a ProxyCommand ran";
}

struct FailedConnect {
  const char* suffix;  // alias suffix, or a full name when it holds a dot
  int32_t number;
  std::vector<const char*> says;
};
void PrintTo(const FailedConnect& c, std::ostream* os) {
  *os << c.suffix;
}

class SshdRefuses : public Sshd, public ::testing::WithParamInterface<FailedConnect> {};

TEST_P(SshdRefuses, WithAPlainWordsError) {
  const auto& c = GetParam();
  std::string name = has(c.suffix, ".") ? c.suffix : alias(c.suffix);
  auto started = std::chrono::steady_clock::now();
  ComError e = connectError(name);
  EXPECT_EQ(e.number(), c.number) << name << ": " << e.description();
  EXPECT_EQ(e.source(), "SWbemLocator");
  for (const char* part : c.says) EXPECT_TRUE(has(e.description(), part)) << e.description();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

INSTANTIATE_TEST_SUITE_P(
    Aliases, SshdRefuses,
    ::testing::Values(
        FailedConnect{
            "closed", err::kRpcServerUnavailable, {"refused the connection", "Connection refused"}},
        FailedConnect{"kestrava-unknown-host.invalid",
                      err::kRpcServerUnavailable,
                      {"\"kestrava-unknown-host.invalid\" is unknown"}},
        FailedConnect{"badkey",
                      err::kWbemAccessDenied,
                      {"refused the login: authentication failed", "Permission denied"}},
        FailedConnect{"wrongkey", err::kWbemAccessDenied, {"has changed"}},
        FailedConnect{
            "noagent", err::kRpcServerUnavailable, {"Kestrava's agent is not installed on"}},
        FailedConnect{"garbage",
                      err::kWbemTransportFailure,
                      {"does not speak Kestrava's protocol", "Welcome to the far side!"}},
        FailedConnect{
            "old", err::kWbemNotSupported, {"is too old", "protocol version 0 (agent 0.0.1)"}}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(Sshd, AnAgentKilledMidEnumerationFailsItKeepsWhatCameAndTheNextConnectStartsAfresh) {
  auto remote = connectComputer(alias("dying"));
  auto stream = remote->execQuery("Select * From Win32_Process");
  std::vector<ManagementObject> got;
  for (int i = 0; i < 3; ++i) got.push_back(*stream->next());
  int agentPid = std::stoi(got[0].get("Handle").asText());
  ASSERT_GT(agentPid, 1);
  ASSERT_EQ(::kill(agentPid, SIGKILL), 0);
  try {
    stream->next();
    FAIL() << "the enumeration went on after its agent was killed";
  } catch (const ComError& e) {
    EXPECT_TRUE(has(e.description(), "The connection to \"" + alias("dying") + "\" was lost"))
        << e.description();
    EXPECT_EQ(e.number(), err::kRpcServerUnavailable);
  }
  EXPECT_EQ(got[2].get("Name").asText(), "object 3");
  try {
    remote->getObject("Win32_Process='1'");
    FAIL() << "a call on a lost connection succeeded";
  } catch (const ComError& e) {
    EXPECT_TRUE(has(e.description(), "was lost")) << e.description();
  }
  auto again = connectComputer(alias("dying"));
  EXPECT_EQ(again->getObject("Win32_Process='1'").className(), "Win32_Process");
}

TEST_F(Sshd, ASecondConnectReplacesTheFirstAndItsSshIsGone) {
  auto first = connectComputer(alias());
  int before = testing::openDescriptors();
  auto firstSsh = dynamic_cast<RemoteConnection&>(*first).processId();
  ASSERT_TRUE(testing::processExists(firstSsh));
  // A failed connect leaves the earlier connection as it was.
  EXPECT_NE(connectError(alias("noagent")).number(), 0);
  EXPECT_EQ(drain(*first->execQuery("Select Name From Win32_OperatingSystem")).size(), 1u);
  auto second = connectComputer(alias());
  auto secondSsh = dynamic_cast<RemoteConnection&>(*second).processId();
  first = std::move(second);
  EXPECT_FALSE(testing::processExists(firstSsh)) << "the old ssh is still there (or a zombie)";
  EXPECT_TRUE(testing::processExists(secondSsh));
  EXPECT_EQ(testing::openDescriptors(), before) << "the old connection left descriptors behind";
  first.reset();
  EXPECT_FALSE(testing::processExists(secondSsh));
}

// ---- a network that dies, a far side that is slow ----

TEST_F(Sshd, ACallAfterTheNetworkDiedFailsWithinTheSilenceLimitAndEndsItsSsh) {
  testing::LoopbackRelay relay(sshdPort());
  SshOptions options;
  // Through the relay, whose port has no known host key of its own.
  options.sshProgram = sshWith("-o Port=" + std::to_string(relay.port()) +
                               " -o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no "
                               "-o LogLevel=ERROR");
  options.limits.silence = std::chrono::seconds(2);
  auto remote = connectOverSsh(alias(), options);
  EXPECT_EQ(drain(*remote->execQuery("Select Name From Win32_OperatingSystem")).size(), 1u);
  const int ssh = remote->processId();
  relay.blackHole();
  const auto started = std::chrono::steady_clock::now();
  const char* path = "Win32_Service='kestrava-test-none.service'";
  std::optional<ComError> error;
  try {
    remote->execMethod(path, "StopService");
  } catch (const ComError& e) {
    error = e;
  }
  ASSERT_TRUE(error.has_value()) << "a call went through a dead network";
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_TRUE(has(error->description(),
                  "\"" + alias() +
                      "\" did not answer within 2 seconds: nothing came back after the call of "
                      "\"StopService\" on \"Win32_Service='kestrava-test-none.service'\""))
      << error->description();
  EXPECT_EQ(error->number(), err::kRpcServerUnavailable);
  EXPECT_EQ(error->source(), "SWbemServicesEx");
  EXPECT_FALSE(testing::processExists(ssh)) << "the ssh of a dead connection is still there";
  try {
    remote->getObject(path);
    FAIL() << "a call on a given-up connection succeeded";
  } catch (const ComError& e) {
    EXPECT_EQ(e.description(), error->description()) << "later calls fail at once, the same way";
  }
}

TEST_F(Sshd, AnAgentThatIsSlowButSaysSoIsWaitedForBeyondTheSilenceLimit) {
  SshOptions options;
  options.sshProgram = sshWith("-o SetEnv=KESTRAVA_FAKE_AGENT=slow");
  options.limits.silence = std::chrono::seconds(1);  // the fake agent's query takes 3 s
  auto remote = connectOverSsh(alias("fake"), options);
  EXPECT_EQ(drain(*remote->execQuery("Select * From Win32_Process")).size(), 3u);
}

// ---- a service acted on over ssh, against the private user service manager ----

// A unit of its own in scripts/fixtures/systemd-user.sh's manager, which the agent on the far
// side reaches through DBUS_SYSTEM_BUS_ADDRESS (passed on by ssh's SendEnv and sshd's AcceptEnv).
class SshdService : public Sshd {
 protected:
  void SetUp() override {
    Sshd::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    const char* units = std::getenv("KESTRAVA_TEST_SYSTEMD_UNIT_DIR");
    if (!std::getenv("KESTRAVA_TEST_SYSTEMD") || !units) {
      const char* required = std::getenv("KESTRAVA_REQUIRE_FIXTURES");
      if (required && std::string(required) == "1")
        FAIL() << "the private service manager is required but KESTRAVA_TEST_SYSTEMD is not set";
      GTEST_SKIP() << "no private service manager (scripts/fixtures/systemd-user.sh)";
    }
    unitFile_ = fs::path(units) / kUnit;
    std::ofstream(unitFile_) << "[Unit]\nDescription=Kestrava test: acted on over ssh\n"
                                "[Service]\nExecStart=/bin/sleep infinity\n";
    ASSERT_EQ(systemctl("daemon-reload"), 0);
  }
  void TearDown() override {
    if (unitFile_.empty()) return;
    systemctl("stop " + std::string(kUnit));
    fs::remove(unitFile_);
    systemctl("daemon-reload");
  }

  static int systemctl(const std::string& args) {
    std::string command = std::string("XDG_RUNTIME_DIR='") +
                          std::getenv("KESTRAVA_TEST_SYSTEMD_RUNTIME_DIR") +
                          "' timeout 20 systemctl --user " + args + " >/dev/null 2>&1";
    return std::system(command.c_str());
  }

  // The unit's State as the far side reports it, once it is `want` (bounded wait).
  static std::string waitForState(Connection& remote, const std::string& want) {
    std::string state;
    for (int i = 0; i < 100 && state != want; ++i) {
      if (i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      state = remote.getObject(kPath).get("State").asText();
    }
    return state;
  }

  static constexpr const char* kUnit = "kestrava-test-ssh.service";
  static constexpr const char* kPath = "Win32_Service='kestrava-test-ssh.service'";
  fs::path unitFile_;
};

TEST_F(SshdService, IsStartedPausedResumedAndStoppedOverSsh) {
  std::mutex mutex;
  std::vector<std::string> changes;
  auto saw = [&](const std::string& change) {
    for (int i = 0; i < 100; ++i) {
      {
        std::lock_guard lock(mutex);
        for (const auto& c : changes)
          if (c == change) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  };
  auto remote = connectComputer(alias());
  auto id = remote->subscribe(
      "Select * from __InstanceModificationEvent Within 0.2 Where TargetInstance Isa "
      "'Win32_Service'",
      [&](const EventObject& e) {
        if (e.target.get("Name").asText() != kUnit) return;
        std::lock_guard lock(mutex);
        changes.push_back(e.previous.get("State").asText() + " -> " +
                          e.target.get("State").asText());
      });
  EXPECT_EQ(waitForState(*remote, "Stopped"), "Stopped");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the watch's first look
  EXPECT_EQ(remote->execMethod(kPath, "StartService"), Value::integer(0));
  EXPECT_EQ(waitForState(*remote, "Running"), "Running");
  EXPECT_TRUE(saw("Stopped -> Running")) << "no notification of the start came over ssh";
  EXPECT_EQ(remote->execMethod(kPath, "PauseService"), Value::integer(0));
  EXPECT_EQ(waitForState(*remote, "Paused"), "Paused");
  EXPECT_EQ(remote->execMethod(kPath, "ResumeService"), Value::integer(0));
  EXPECT_EQ(waitForState(*remote, "Running"), "Running");
  EXPECT_EQ(remote->execMethod(kPath, "StopService"), Value::integer(0));
  EXPECT_EQ(waitForState(*remote, "Stopped"), "Stopped");
  remote->cancel(id);
}

}  // namespace
}  // namespace kestrava::remote
