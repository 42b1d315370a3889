// The four service methods on the booted server's cron.service, over ssh as root, as admin
// (whom a polkit rule lets manage units) and as oper (whom nothing allows), checked against what
// systemd and the kernel say on the server.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "server/ServerFixture.h"

namespace kestrava::testing {
namespace {

const std::string kCron = "Win32_Service='cron.service'";

class ServerControl : public BootedServer {
 protected:
  void SetUp() override {
    BootedServer::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    onServer(
        "systemctl start cron.service; systemctl thaw cron.service 2>/dev/null; "
        "systemctl kill --signal=SIGCONT cron.service; true");
  }
  void TearDown() override {
    if (!host_.empty())
      onServer("systemctl kill --signal=SIGCONT cron.service; systemctl start cron.service; true");
  }

  // cron as the server sees it: "active", "inactive", ...; and whether its main process is held.
  std::string activeState() {
    return lines(onServer("systemctl show -p ActiveState --value cron.service")).at(0);
  }
  bool held() {
    const std::string out = onServer(
        "systemctl show -p FreezerState --value cron.service; "
        "ps -o stat= -p $(systemctl show -p MainPID --value cron.service) || true");
    return out.find("frozen") != std::string::npos || out.find("\nT") != std::string::npos;
  }
  // Waits, up to 15 s, for systemd's job to bring cron to the state.
  bool reaches(const std::string& state) {
    for (int i = 0; i < 75; ++i) {
      if (activeState() == state) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
  }
  static int64_t call(Connection& c, const char* method) {
    return c.execMethod(kCron, method).asInteger();
  }
  std::string shownState(Connection& c) { return c.getObject(kCron).get("State").toText(); }
};

class ServerControlAllowed : public ServerControl,
                             public ::testing::WithParamInterface<const char*> {};

// root, and admin through the polkit rule, may do all four; Pause and Resume included, although
// systemd refuses to freeze a unit for anyone but root.
TEST_P(ServerControlAllowed, AllFourMethodsActOnTheServer) {
  auto server = connectComputer(as(GetParam()));
  EXPECT_EQ(server->getObject(kCron).get("AcceptPause"), Value::boolean(true));
  ASSERT_EQ(call(*server, "PauseService"), 0);
  EXPECT_TRUE(held()) << "cron is not paused on the server";
  EXPECT_EQ(shownState(*server), "Paused");
  ASSERT_EQ(call(*server, "ResumeService"), 0);
  EXPECT_FALSE(held()) << "cron is still paused on the server";
  EXPECT_EQ(shownState(*server), "Running");
  ASSERT_EQ(call(*server, "StopService"), 0);
  EXPECT_TRUE(reaches("inactive"));
  // systemd's own record is the SIGTERM that stopped cron; the class counts it as a clean end.
  EXPECT_EQ(lines(onServer("systemctl show -p ExecMainStatus --value cron.service")).at(0), "15");
  EXPECT_EQ(server->getObject(kCron).get("ExitCode").toText(), "0");
  ASSERT_EQ(call(*server, "StartService"), 0);
  EXPECT_TRUE(reaches("active"));
}

INSTANTIATE_TEST_SUITE_P(Accounts, ServerControlAllowed, ::testing::Values("root", "admin"),
                         [](const auto& info) { return std::string(info.param); });

// oper may do none of them: each method is refused with 2 (access denied) and nothing changes.
// Each is tried in the state where it would act.
TEST_F(ServerControl, AnAccountWithoutTheRuleIsRefusedAndNothingChanges) {
  auto oper = connectComputer(as("oper"));
  EXPECT_EQ(call(*oper, "PauseService"), 2);
  EXPECT_FALSE(held());
  EXPECT_EQ(call(*oper, "StopService"), 2);
  EXPECT_EQ(activeState(), "active");

  onServer("systemctl kill --signal=SIGSTOP cron.service");
  EXPECT_EQ(call(*oper, "ResumeService"), 2);
  EXPECT_TRUE(held()) << "oper resumed cron";
  onServer("systemctl kill --signal=SIGCONT cron.service");

  onServer("systemctl stop cron.service");
  EXPECT_EQ(call(*oper, "StartService"), 2);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(activeState(), "inactive");
}

// The bus daemon carries every request to systemd: paused, nothing could resume it.
TEST_F(ServerControl, PausingTheBusDaemonIsRefused) {
  auto server = connectComputer(as("root"));
  const std::string dbus = "Win32_Service='dbus.service'";
  EXPECT_EQ(server->getObject(dbus).get("AcceptPause"), Value::boolean(false));
  EXPECT_NE(server->execMethod(dbus, "PauseService").asInteger(), 0);
  const std::string stat =
      onServer("ps -o stat= -p $(systemctl show -p MainPID --value dbus.service)");
  EXPECT_NE(stat.substr(0, 1), "T") << "the bus daemon was stopped";
  EXPECT_EQ(server->getObject(dbus).get("State").toText(), "Running");
}

}  // namespace
}  // namespace kestrava::testing
