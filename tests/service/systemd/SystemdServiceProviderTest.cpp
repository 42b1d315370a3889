#include "service/systemd/SystemdServiceProvider.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "service/Providers.h"
#include "service/systemd/ProcState.h"
#include "service/systemd/ServiceSchema.h"
#include "service/systemd/SystemdFixture.h"
#include "service/systemd/SysvServiceProvider.h"

namespace kestrava::service::systemd {
namespace {

using namespace std::chrono_literals;

using namespace kestrava::testing;
const std::string& kLong = kLongUnit;
const std::string& kCycle = kCycleUnit;
const std::string& kPause = kPauseUnit;
const std::string& kExit = kExitUnit;
const std::string& kFail = kFailUnit;
const std::string& kMasked = kMaskedUnit;

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Whether the process is held: stopped by a signal, or in a frozen cgroup v2.
bool isHeld(uint32_t pid) {
  if (processState("/proc", pid) == 'T') return true;
  std::istringstream groups(readFile("/proc/" + std::to_string(pid) + "/cgroup"));
  for (std::string line; std::getline(groups, line);)
    if (line.rfind("0::", 0) == 0)
      return readFile("/sys/fs/cgroup" + line.substr(3) + "/cgroup.events").find("frozen 1") !=
             std::string::npos;
  return false;
}

class SystemdLive : public ::testing::Test {
 protected:
  void SetUp() override {
    NEED_SYSTEMD_FIXTURE();
    auto client = SystemdClient::open(5s);
    ASSERT_TRUE(client) << "no systemd answers on " << ::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    provider_ = std::make_unique<SystemdServiceProvider>(std::move(client), localHostFacts());
  }

  ManagementObject get(const std::string& name) {
    std::optional<ManagementObject> object = provider_->get(name);
    if (!object) throw std::runtime_error("no service " + name);
    return *object;
  }

  int64_t call(const std::string& name, const char* method) {
    return provider_->invoke(name, method).asInteger();
  }

  // The service once its State is `state`; the test fails when that takes over 10 s.
  ManagementObject waitForState(const std::string& name, const std::string& state) {
    ManagementObject object = get(name);
    for (auto end = std::chrono::steady_clock::now() + 10s;
         object.get("State").asText() != state && std::chrono::steady_clock::now() < end;
         object = get(name))
      std::this_thread::sleep_for(50ms);
    EXPECT_EQ(object.get("State").asText(), state) << name;
    return object;
  }

  std::unique_ptr<SystemdServiceProvider> provider_;
};

TEST_F(SystemdLive, ListsEveryServiceWithEveryProperty) {
  std::map<std::string, ManagementObject> byName;
  provider_->enumerate(PropertySet::all(), [&](ManagementObject&& o) {
    byName.emplace(o.get("Name").asText(), std::move(o));
    return true;
  });
  for (const std::string& name : {kLong, kCycle, kPause, kExit, kFail, kMasked})
    ASSERT_TRUE(byName.count(name)) << name;
  for (const auto& [name, object] : byName) {
    for (size_t i = 0; i < object.values().size(); ++i)
      EXPECT_FALSE(object.at(i).isEmpty()) << name << " " << object.schema()->properties()[i];
    EXPECT_NE(name.find(".service"), std::string::npos);
    EXPECT_EQ(name.find("@.service"), std::string::npos) << "a template is not a service";
  }

  const ManagementObject& running = byName.at(kLong);
  EXPECT_EQ(running.get("State").asText(), "Running");
  EXPECT_EQ(running.get("Status").asText(), "OK");
  EXPECT_EQ(running.get("StartMode").asText(), "Auto");
  EXPECT_TRUE(running.get("Started").asBoolean());
  EXPECT_TRUE(running.get("AcceptStop").asBoolean());
  EXPECT_TRUE(running.get("AcceptPause").asBoolean());
  EXPECT_EQ(running.get("PathName").asText(), "/bin/sleep infinity");
  EXPECT_EQ(running.get("StartName").asText(), "root");
  EXPECT_EQ(running.get("Description").asText(), "Kestrava test: long-running service");
  EXPECT_EQ(running.get("DisplayName").asText(), "Kestrava test: long-running service");
  EXPECT_EQ(running.get("Caption").asText(), "Kestrava test: long-running service");
  EXPECT_EQ(running.get("ErrorControl").asText(), "Normal");
  EXPECT_EQ(running.get("SystemName").asText(), localHostFacts().systemName);
  const int64_t pid = running.get("ProcessId").asInteger();
  ASSERT_GT(pid, 0);
  EXPECT_EQ(readFile("/proc/" + std::to_string(pid) + "/comm"), "sleep\n");

  const ManagementObject& exited = byName.at(kExit);
  EXPECT_EQ(exited.get("State").asText(), "Stopped");
  EXPECT_EQ(exited.get("ExitCode").asInteger(), 3);
  EXPECT_EQ(exited.get("Status").asText(), "OK");
  EXPECT_EQ(exited.get("ProcessId").asInteger(), 0);
  EXPECT_EQ(exited.get("StartMode").asText(), "Manual");
  EXPECT_FALSE(exited.get("AcceptStop").asBoolean());

  const ManagementObject& failed = byName.at(kFail);
  EXPECT_EQ(failed.get("State").asText(), "Stopped");
  EXPECT_EQ(failed.get("ExitCode").asInteger(), 5);
  EXPECT_EQ(failed.get("Status").asText(), "Error");

  const ManagementObject& masked = byName.at(kMasked);
  EXPECT_EQ(masked.get("StartMode").asText(), "Disabled");
  EXPECT_EQ(masked.get("State").asText(), "Stopped");
  EXPECT_TRUE(masked.get("PathName").isNull());
}

TEST_F(SystemdLive, ReadsOnlyTheWantedProperties) {
  const SchemaPtr& schema = win32ServiceSchema();
  std::vector<bool> wanted(schema->size(), false);
  wanted[*schema->indexOf("Name")] = true;
  wanted[*schema->indexOf("State")] = true;
  bool seen = false;
  provider_->enumerate(PropertySet(wanted), [&](ManagementObject&& o) {
    EXPECT_TRUE(o.get("Description").isEmpty());
    EXPECT_TRUE(o.get("PathName").isEmpty());
    if (o.get("Name").asText() == kLong) {
      seen = true;
      EXPECT_EQ(o.get("State").asText(), "Running");
    }
    return true;
  });
  EXPECT_TRUE(seen);
}

TEST_F(SystemdLive, GetFindsServicesByTheirFullNameOnly) {
  EXPECT_EQ(get(kLong).get("Name").asText(), kLong);
  EXPECT_EQ(get(kMasked).get("StartMode").asText(), "Disabled");
  for (const char* key :
       {"kestrava-test-nonexistent.service", "kestrava-test-long", "kestrava-test-long.socket",
        "kestrava-test-long'.service", "", "../kestrava-test-long.service", "getty@.service"})
    EXPECT_FALSE(provider_->get(key).has_value()) << key;
}

TEST_F(SystemdLive, StartAndStopARealUnit) {
  if (get(kCycle).get("State").asText() != "Stopped") {
    call(kCycle, "StopService");
    waitForState(kCycle, "Stopped");
  }
  EXPECT_EQ(call(kCycle, "StopService"), 6);
  EXPECT_EQ(call(kCycle, "PauseService"), 6);
  EXPECT_EQ(call(kCycle, "ResumeService"), 6);

  EXPECT_EQ(call(kCycle, "StartService"), 0);
  ManagementObject running = waitForState(kCycle, "Running");
  const int64_t pid = running.get("ProcessId").asInteger();
  EXPECT_GT(pid, 0);
  EXPECT_EQ(call(kCycle, "StartService"), 10);
  EXPECT_EQ(call(kCycle, "ResumeService"), 5);

  EXPECT_EQ(call(kCycle, "StopService"), 0);
  ManagementObject stopped = waitForState(kCycle, "Stopped");
  EXPECT_EQ(stopped.get("ProcessId").asInteger(), 0);
  EXPECT_FALSE(stopped.get("AcceptStop").asBoolean());
  EXPECT_EQ(processState("/proc", static_cast<uint32_t>(pid)), std::nullopt);
}

TEST_F(SystemdLive, PauseHoldsTheProcessesAndResumeLetsThemGo) {
  if (get(kPause).get("State").asText() != "Running") {
    call(kPause, "StartService");
    waitForState(kPause, "Running");
  }
  const auto pid = static_cast<uint32_t>(get(kPause).get("ProcessId").asInteger());
  ASSERT_GT(pid, 0u);

  EXPECT_EQ(call(kPause, "PauseService"), 0);
  ManagementObject paused = waitForState(kPause, "Paused");
  EXPECT_TRUE(isHeld(pid));
  EXPECT_FALSE(paused.get("AcceptPause").asBoolean());
  EXPECT_TRUE(paused.get("AcceptStop").asBoolean());
  EXPECT_EQ(paused.get("ProcessId").asInteger(), pid);
  EXPECT_EQ(call(kPause, "PauseService"), 24);
  EXPECT_EQ(call(kPause, "StartService"), 10);

  EXPECT_EQ(call(kPause, "ResumeService"), 0);
  waitForState(kPause, "Running");
  EXPECT_FALSE(isHeld(pid));
  EXPECT_EQ(call(kPause, "ResumeService"), 5);

  // A paused service still stops: its processes are let go to end.
  EXPECT_EQ(call(kPause, "PauseService"), 0);
  waitForState(kPause, "Paused");
  EXPECT_EQ(call(kPause, "StopService"), 0);
  waitForState(kPause, "Stopped");
  EXPECT_EQ(processState("/proc", pid), std::nullopt);
}

TEST_F(SystemdLive, RefusalsAndUnknownsAnswerAsTheClassDoes) {
  EXPECT_EQ(call(kMasked, "StartService"), 14);
  EXPECT_EQ(call(kLong, "StartService"), 10);
  EXPECT_EQ(call(kExit, "StopService"), 6);
  EXPECT_EQ(call(kFail, "PauseService"), 6);
  // Paused, the bus daemon between us and systemd could not carry the resume.
  ASSERT_FALSE(get("dbus.service").get("AcceptPause").asBoolean());  // else the pause would hang
  EXPECT_EQ(call("dbus.service", "PauseService"), 5);
  EXPECT_EQ(get("dbus.service").get("State").asText(), "Running");
  try {
    call(kLong, "RestartService");
    ADD_FAILURE() << "an unknown method was accepted";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kWbemInvalidMethod);
  }
  for (const char* key : {"kestrava-test-nonexistent.service", "no'such.service"}) {
    try {
      call(key, "StartService");
      ADD_FAILURE() << "no error for " << key;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kWbemNotFound) << key;
    }
  }
}

// Runs systemctl --user against the fixture's manager; its exit status.
int userSystemctl(const std::string& args) {
  const std::string command = "XDG_RUNTIME_DIR='" +
                              std::string(::getenv("KESTRAVA_TEST_SYSTEMD_RUNTIME_DIR")) +
                              "' systemctl --user " + args + " >/dev/null 2>&1";
  return std::system(command.c_str());
}

TEST_F(SystemdLive, AUnitFileAddedOrRemovedShowsAfterAReload) {
  const std::string name = "kestrava-test-added.service";
  const std::filesystem::path file =
      std::filesystem::path(::getenv("KESTRAVA_TEST_SYSTEMD_UNIT_DIR")) / name;
  auto listed = [&] {
    bool found = false;
    provider_->enumerate(PropertySet::all(), [&](ManagementObject&& o) {
      if (o.get("Name").asText() != name) return true;
      found = true;
      // Installed, never loaded: systemd loads it only to answer.
      EXPECT_EQ(o.get("State").asText(), "Stopped");
      EXPECT_EQ(o.get("Description").asText(), "Kestrava test: added later");
      EXPECT_EQ(o.get("PathName").asText(), "/bin/sleep infinity");
      EXPECT_EQ(o.get("StartMode").asText(), "Manual");
      EXPECT_EQ(o.get("StartName").asText(), "root");
      EXPECT_EQ(o.get("ErrorControl").asText(), "Normal");
      EXPECT_EQ(o.get("ProcessId").asInteger(), 0);
      EXPECT_FALSE(o.get("AcceptStop").asBoolean());
      return false;
    });
    return found;
  };
  EXPECT_FALSE(listed());
  std::ofstream(file) << "[Unit]\nDescription=Kestrava test: added later\n[Service]\n"
                         "ExecStart=/bin/sleep infinity\n";
  ASSERT_EQ(userSystemctl("daemon-reload"), 0);
  EXPECT_TRUE(listed());
  EXPECT_TRUE(listed());  // the second time from what the first look kept
  std::filesystem::remove(file);
  ASSERT_EQ(userSystemctl("daemon-reload"), 0);
  EXPECT_FALSE(listed());
}

TEST(ServiceProviderChoice, SystemdWhenItAnswersSysvOtherwise) {
  NEED_SYSTEMD_FIXTURE();
  auto withSystemd = makeServiceProvider();
  EXPECT_NE(dynamic_cast<SystemdServiceProvider*>(withSystemd.get()), nullptr);
  EXPECT_TRUE(withSystemd->get(kLong).has_value());

  const std::string saved = ::getenv("DBUS_SYSTEM_BUS_ADDRESS");
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kestrava/bus", 1);
  auto without = makeServiceProvider();
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved.c_str(), 1);
  EXPECT_NE(dynamic_cast<SysvServiceProvider*>(without.get()), nullptr);
}

}  // namespace
}  // namespace kestrava::service::systemd
