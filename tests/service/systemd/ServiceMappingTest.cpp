#include "service/systemd/ServiceMapping.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <limits>

#include "service/systemd/ServiceReturnCode.h"

namespace kestrava::service::systemd {
namespace {

UnitRecord unit(std::string active, std::string sub, std::string freezer = "running",
                bool mainStopped = false, uint32_t mainPid = 0) {
  UnitRecord u;
  u.name = "x.service";
  u.activeState = std::move(active);
  u.subState = std::move(sub);
  u.freezerState = std::move(freezer);
  u.mainStopped = mainStopped;
  u.mainPid = mainPid;
  u.canStop = true;
  u.canFreeze = true;
  u.loadState = "loaded";
  return u;
}

TEST(ServiceMapping, StateFromActiveSubFreezerAndMainProcess) {
  struct Case {
    const char* active;
    const char* sub;
    const char* freezer;
    bool mainStopped;
    const char* state;
  };
  const Case cases[] = {
      {"active", "running", "running", false, "Running"},
      {"active", "exited", "running", false, "Running"},
      {"reloading", "reload", "running", false, "Running"},
      {"active", "running", "running", true, "Paused"},
      {"active", "running", "frozen", false, "Paused"},
      {"active", "running", "freezing", false, "Pause Pending"},
      {"active", "running", "thawing", false, "Continue Pending"},
      {"activating", "start", "running", false, "Start Pending"},
      {"activating", "auto-restart", "running", false, "Start Pending"},
      {"deactivating", "stop-sigterm", "running", false, "Stop Pending"},
      {"inactive", "dead", "running", false, "Stopped"},
      {"inactive", "dead", "running", true, "Stopped"},  // a stale pid's T says nothing
      {"failed", "failed", "running", false, "Stopped"},
      {"maintenance", "cleaning", "running", false, "Stopped"},
      {"", "", "running", false, "Unknown"},
      {"something-new", "x", "running", false, "Unknown"},
  };
  for (const Case& c : cases) {
    UnitRecord u = unit(c.active, c.sub, c.freezer, c.mainStopped, 42);
    EXPECT_EQ(serviceState(u), c.state)
        << c.active << "/" << c.sub << "/" << c.freezer << "/" << c.mainStopped;
    EXPECT_EQ(isPaused(u), std::string(c.state) == "Paused") << c.active << "/" << c.freezer;
  }
}

TEST(ServiceMapping, StartModeFromUnitFileState) {
  const std::pair<const char*, const char*> cases[] = {
      {"enabled", "Auto"},     {"enabled-runtime", "Auto"},
      {"static", "Manual"},    {"disabled", "Manual"},
      {"indirect", "Manual"},  {"generated", "Manual"},
      {"transient", "Manual"}, {"", "Manual"},
      {"masked", "Disabled"},  {"masked-runtime", "Disabled"},
      {"bad", "Unknown"},      {"Enabled", "Unknown"},
  };
  for (const auto& [fileState, mode] : cases) EXPECT_EQ(startMode(fileState), mode) << fileState;
}

TEST(ServiceMapping, StatusErrorControlAndStarted) {
  UnitRecord failed = unit("failed", "failed");
  UnitRecord badSetting = unit("inactive", "dead");
  badSetting.loadState = "bad-setting";
  UnitRecord restarting = unit("activating", "auto-restart");
  UnitRecord masked = unit("inactive", "dead");
  masked.loadState = "masked";
  EXPECT_EQ(serviceStatus(failed), "Error");
  EXPECT_EQ(serviceStatus(badSetting), "Error");
  EXPECT_EQ(serviceStatus(restarting), "Degraded");
  EXPECT_EQ(serviceStatus(masked), "OK");
  EXPECT_EQ(serviceStatus(unit("active", "running")), "OK");

  EXPECT_EQ(errorControl("none"), "Normal");
  EXPECT_EQ(errorControl("reboot-force"), "Critical");
  EXPECT_EQ(errorControl("exit"), "Critical");
  EXPECT_EQ(errorControl(""), "Unknown");

  EXPECT_TRUE(isActive(unit("reloading", "reload")));
  EXPECT_FALSE(isActive(unit("activating", "start")));
  EXPECT_FALSE(isActive(unit("failed", "failed")));
}

TEST(ServiceMapping, ControlPlans) {
  using A = UnitAction;
  struct Case {
    const char* what;
    ServiceMethod method;
    UnitRecord unit;
    bool freezerUsable;
    std::optional<int32_t> refusal;
    std::vector<UnitAction> actions;
  };
  UnitRecord masked = unit("inactive", "dead");
  masked.loadState = "masked";
  UnitRecord noStop = unit("active", "running", "running", false, 7);
  noStop.canStop = false;
  UnitRecord noFreeze = unit("active", "running", "running", false, 7);
  noFreeze.canFreeze = false;
  UnitRecord noProcess = unit("active", "running", "running", false, 0);
  UnitRecord busDaemon = unit("active", "running", "running", false, 7);
  busDaemon.carriesBus = true;
  const Case cases[] = {
      {"start stopped", ServiceMethod::Start, unit("inactive", "dead"), false, {}, {A::Start}},
      {"start failed", ServiceMethod::Start, unit("failed", "failed"), false, {}, {A::Start}},
      {"start stopping", ServiceMethod::Start, unit("deactivating", "stop"), false, {}, {A::Start}},
      {"start running", ServiceMethod::Start, unit("active", "running"), false, 10, {}},
      {"start starting", ServiceMethod::Start, unit("activating", "start"), false, 10, {}},
      {"start paused", ServiceMethod::Start, unit("active", "running", "frozen"), false, 10, {}},
      {"start masked", ServiceMethod::Start, masked, false, 14, {}},
      {"stop running", ServiceMethod::Stop, unit("active", "running"), false, {}, {A::Stop}},
      {"stop starting", ServiceMethod::Stop, unit("activating", "start"), false, {}, {A::Stop}},
      {"stop stopped", ServiceMethod::Stop, unit("inactive", "dead"), false, 6, {}},
      {"stop failed", ServiceMethod::Stop, unit("failed", "failed"), false, 6, {}},
      {"stop stopping", ServiceMethod::Stop, unit("deactivating", "stop"), false, 5, {}},
      {"stop refused", ServiceMethod::Stop, noStop, false, 5, {}},
      {"pause running",
       ServiceMethod::Pause,
       unit("active", "running", "running", false, 7),
       false,
       {},
       {A::Freeze}},
      {"pause no freeze", ServiceMethod::Pause, noFreeze, false, {}, {A::SignalStop}},
      {"pause no process, freezer", ServiceMethod::Pause, noProcess, true, {}, {A::Freeze}},
      {"pause no process, no freezer", ServiceMethod::Pause, noProcess, false, 5, {}},
      {"pause stopped", ServiceMethod::Pause, unit("inactive", "dead"), false, 6, {}},
      {"pause stopping", ServiceMethod::Pause, unit("deactivating", "stop"), false, 6, {}},
      {"pause frozen", ServiceMethod::Pause, unit("active", "running", "frozen"), false, 24, {}},
      {"pause freezing",
       ServiceMethod::Pause,
       unit("active", "running", "freezing"),
       false,
       24,
       {}},
      {"pause stopped main",
       ServiceMethod::Pause,
       unit("active", "running", "running", true, 7),
       false,
       24,
       {}},
      {"pause starting",
       ServiceMethod::Pause,
       unit("activating", "start", "running", false, 7),
       false,
       5,
       {}},
      {"pause exited oneshot", ServiceMethod::Pause, unit("active", "exited"), true, 5, {}},
      {"pause the bus daemon", ServiceMethod::Pause, busDaemon, true, 5, {}},
      {"stop the bus daemon", ServiceMethod::Stop, busDaemon, false, {}, {A::Stop}},
      {"resume frozen",
       ServiceMethod::Resume,
       unit("active", "running", "frozen", false, 7),
       false,
       {},
       {A::Thaw}},
      {"resume stopped main",
       ServiceMethod::Resume,
       unit("active", "running", "running", true, 7),
       false,
       {},
       {A::SignalContinue}},
      {"resume both",
       ServiceMethod::Resume,
       unit("active", "running", "frozen", true, 7),
       false,
       {},
       {A::Thaw, A::SignalContinue}},
      {"resume running",
       ServiceMethod::Resume,
       unit("active", "running", "running", false, 7),
       false,
       5,
       {}},
      {"resume stopped", ServiceMethod::Resume, unit("inactive", "dead"), false, 6, {}},
  };
  for (const Case& c : cases) {
    ControlPlan plan = planControl(c.method, c.unit, c.freezerUsable);
    EXPECT_EQ(plan.refusal, c.refusal) << c.what;
    EXPECT_EQ(plan.actions, c.actions) << c.what;
    if (c.method == ServiceMethod::Stop) {
      EXPECT_EQ(acceptStop(c.unit), !c.refusal.has_value()) << c.what;
    }
    if (c.method == ServiceMethod::Pause) {
      EXPECT_EQ(acceptPause(c.unit, c.freezerUsable), !c.refusal.has_value()) << c.what;
    }
  }
}

TEST(ServiceMapping, WaitHintStartNameAndCommandLine) {
  UnitRecord starting = unit("activating", "start");
  starting.timeoutStartUSec = 90'000'000;
  starting.timeoutStopUSec = 5'000'000;
  EXPECT_EQ(waitHintMs(starting), 90'000u);
  starting.activeState = "deactivating";
  EXPECT_EQ(waitHintMs(starting), 5'000u);
  starting.timeoutStopUSec = std::numeric_limits<uint64_t>::max();
  EXPECT_EQ(waitHintMs(starting), 0u);
  starting.timeoutStopUSec = std::numeric_limits<uint64_t>::max() - 1;
  EXPECT_EQ(waitHintMs(starting), std::numeric_limits<uint32_t>::max());
  EXPECT_EQ(waitHintMs(unit("active", "running")), 0u);

  UnitRecord u = unit("active", "running");
  u.name = "cups.service";
  EXPECT_EQ(startName(u, "root"), "root");
  u.dynamicUser = true;
  EXPECT_EQ(startName(u, "root"), "cups");
  u.user = "lp";
  EXPECT_EQ(startName(u, "root"), "lp");

  EXPECT_EQ(joinCommandLine("/bin/sleep", {"sleep", "infinity"}), "/bin/sleep infinity");
  EXPECT_EQ(joinCommandLine("/usr/sbin/sshd", {"/usr/sbin/sshd"}), "/usr/sbin/sshd");
  EXPECT_EQ(joinCommandLine("/opt/my app/run", {"run", "a b", "", "say \"hi\"", "back\\slash"}),
            R"("/opt/my app/run" "a b" "" "say \"hi\"" "back\\slash")");
}

TEST(ServiceMapping, ExitCodeCountsTheSignalsOfACleanStopAsZero) {
  struct Case {
    int32_t code;
    int32_t status;
    int32_t exitCode;
  };
  const Case cases[] = {
      {CLD_KILLED, SIGTERM, 0},
      {CLD_KILLED, SIGINT, 0},
      {CLD_KILLED, SIGHUP, 0},
      {CLD_KILLED, SIGPIPE, 0},
      {CLD_KILLED, SIGKILL, 9},
      {CLD_DUMPED, SIGSEGV, 11},
      {CLD_DUMPED, SIGTERM, 15},
      {CLD_EXITED, 15, 15},
      {CLD_EXITED, 1, 1},
      {CLD_EXITED, 0, 0},
      {0, 0, 0},  // never ran
  };
  for (const Case& c : cases) {
    UnitRecord u = unit("inactive", "dead");
    u.execMainCode = c.code;
    u.execMainStatus = c.status;
    EXPECT_EQ(exitCode(u), c.exitCode) << "code " << c.code << " status " << c.status;
  }
}

TEST(ServiceMapping, UnitNamesAndMethodNames) {
  const std::pair<const char*, bool> names[] = {
      {"ssh.service", true},
      {"getty@tty1.service", true},
      {"systemd-fsck@dev-disk-by\\x2duuid-1.service", true},
      {"getty@.service", false},
      {".service", false},
      {"ssh.socket", false},
      {"ssh", false},
      {"a'b.service", false},
      {"../etc/x.service", false},
      {"a/b.service", false},
      {"a b.service", false},
      {"", false},
      {".hidden.service", false},
  };
  for (const auto& [name, valid] : names) EXPECT_EQ(isServiceUnitName(name), valid) << name;
  EXPECT_FALSE(isServiceUnitName(std::string(300, 'a') + ".service"));

  EXPECT_EQ(parseServiceMethod("StartService"), ServiceMethod::Start);
  EXPECT_EQ(parseServiceMethod("stopservice"), ServiceMethod::Stop);
  EXPECT_EQ(parseServiceMethod("PAUSESERVICE"), ServiceMethod::Pause);
  EXPECT_EQ(parseServiceMethod("ResumeService"), ServiceMethod::Resume);
  EXPECT_EQ(parseServiceMethod("Restart"), std::nullopt);
  EXPECT_EQ(parseServiceMethod(""), std::nullopt);
}

}  // namespace
}  // namespace kestrava::service::systemd
