#include "service/systemd/SysvServiceProvider.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>

#include "service/systemd/ServiceSchema.h"
#include "service/systemd/TempDir.h"

namespace kestrava::service {
namespace {

using kestrava::testing::TempDir;
namespace fs = std::filesystem;
constexpr auto kExecutable = fs::perms::owner_all;

// Init scripts in a fixture folder; each records its argument and environment in a log file.
class SysvFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = dir_.path() / "calls.log";
    script("running", 0,
           "### BEGIN INIT INFO\n# Short-Description: Always up\n"
           "# Description: A service that\n#  never stops.\n### END INIT INFO\n");
    script("stopped", 3);
    script("crashed", 1);
    script("denied", 3, "", R"(case "$1" in start) exit 4 ;; esac)");
    script("hangs", 3, "",
           R"(case "$1" in start) echo $$ > )" + (dir_.path() / "hang.pid").string() +
               R"(; exec sleep 30 ;; esac)");
    script("slowstatus", 0, "", R"(case "$1" in status) exec sleep 30 ;; esac)");
    script("it's", 3);
    dir_.write("init.d/README", "not a service", kExecutable);
    dir_.write("init.d/skeleton", "#!/bin/sh\nexit 0\n", kExecutable);
    dir_.write("init.d/old.dpkg-old", "#!/bin/sh\nexit 0\n", kExecutable);
    dir_.write("init.d/notexec", "#!/bin/sh\nexit 0\n");
    dir_.write(
        "init.d/bad\xff"
        "name",
        "#!/bin/sh\nexit 0\n", kExecutable);
    fs::create_directories(dir_.path() / "init.d/subdir");
    fs::create_directories(dir_.path() / "rc2.d");
    fs::create_symlink("../init.d/running", dir_.path() / "rc2.d/S01running");
    fs::create_symlink("../init.d/stopped", dir_.path() / "rc2.d/K01stopped");
  }

  // A script whose `status` exits with statusCode; other actions log and exit 0.
  void script(const std::string& name, int statusCode, const std::string& header = "",
              const std::string& body = "") {
    std::ostringstream text;
    text << "#!/bin/sh\n"
         << header << "echo \"" << name << " $# $1 PATH=$PATH SECRET=${KESTRAVA_SECRET:-}\" >> "
         << log_.string() << "\n"
         << body << "\n"
         << "case \"$1\" in status) exit " << statusCode << " ;; esac\nexit 0\n";
    dir_.write("init.d/" + name, text.str(), kExecutable);
  }

  SysvServiceProvider provider(std::chrono::milliseconds statusTimeout = std::chrono::seconds(5),
                               std::chrono::milliseconds actionTimeout = std::chrono::seconds(5)) {
    return SysvServiceProvider(
        SysvOptions{dir_.path() / "init.d", statusTimeout, actionTimeout, "testhost"});
  }

  std::string log() const {
    std::ifstream in(log_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::map<std::string, ManagementObject> all(SysvServiceProvider& p) {
    std::map<std::string, ManagementObject> byName;
    p.enumerate(PropertySet::all(), [&](ManagementObject&& o) {
      byName.emplace(o.get("Name").asText(), std::move(o));
      return true;
    });
    return byName;
  }

  TempDir dir_;
  fs::path log_;
};

TEST_F(SysvFixture, ListsTheScriptsAndLeavesHelpersOut) {
  auto p = provider(std::chrono::milliseconds(500));
  EXPECT_EQ(p.scriptNames(), (std::vector<std::string>{"crashed", "denied", "hangs", "it's",
                                                       "running", "slowstatus", "stopped"}));
}

TEST_F(SysvFixture, MapsStatusHeaderAndRunlevelLinks) {
  auto p = provider(std::chrono::milliseconds(800));
  const auto started = std::chrono::steady_clock::now();
  auto objects = all(p);
  // The hanging `status` is cut off at the deadline; it does not hold up the rest.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
  ASSERT_EQ(objects.size(), 7u);

  const ManagementObject& running = objects.at("running");
  EXPECT_EQ(running.get("State").asText(), "Running");
  EXPECT_EQ(running.get("Status").asText(), "OK");
  EXPECT_TRUE(running.get("Started").asBoolean());
  EXPECT_TRUE(running.get("AcceptStop").asBoolean());
  EXPECT_FALSE(running.get("AcceptPause").asBoolean());
  EXPECT_EQ(running.get("StartMode").asText(), "Auto");
  EXPECT_EQ(running.get("DisplayName").asText(), "Always up");
  EXPECT_EQ(running.get("Caption").asText(), "Always up");
  EXPECT_EQ(running.get("Description").asText(), "A service that never stops.");
  EXPECT_EQ(running.get("PathName").asText(), (dir_.path() / "init.d/running").string());
  EXPECT_EQ(running.get("SystemName").asText(), "testhost");
  EXPECT_EQ(running.get("StartName").asText(), "root");
  EXPECT_TRUE(running.get("ProcessId").isNull());

  const ManagementObject& stopped = objects.at("stopped");
  EXPECT_EQ(stopped.get("State").asText(), "Stopped");
  EXPECT_EQ(stopped.get("StartMode").asText(), "Manual");
  EXPECT_EQ(stopped.get("DisplayName").asText(), "stopped");
  EXPECT_TRUE(stopped.get("Description").isNull());
  EXPECT_FALSE(stopped.get("AcceptStop").asBoolean());

  EXPECT_EQ(objects.at("crashed").get("State").asText(), "Unknown");
  EXPECT_EQ(objects.at("crashed").get("Status").asText(), "Error");
  EXPECT_EQ(objects.at("slowstatus").get("State").asText(), "Unknown");
  EXPECT_EQ(objects.at("it's").get("State").asText(), "Stopped");

  for (const auto& [name, object] : objects)
    for (const Value& v : object.values()) EXPECT_FALSE(v.isEmpty()) << name;
  // Scripts run with their action as the only argument and a fixed environment.
  EXPECT_NE(log().find("running 1 status PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:"
                       "/sbin:/bin SECRET=\n"),
            std::string::npos);
}

TEST_F(SysvFixture, ReadsOnlyWhatTheQueryNeeds) {
  auto p = provider();
  const SchemaPtr& schema = win32ServiceSchema();
  std::vector<bool> wanted(schema->size(), false);
  wanted[*schema->indexOf("Name")] = true;
  wanted[*schema->indexOf("PathName")] = true;
  size_t count = 0;
  p.enumerate(PropertySet(wanted), [&](ManagementObject&& o) {
    EXPECT_TRUE(o.get("State").isEmpty());
    EXPECT_FALSE(o.get("PathName").isEmpty());
    return ++count < 2;  // the sink may stop the enumeration
  });
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(log(), "");  // no script was run
}

TEST_F(SysvFixture, StartAndStopRunTheScriptAndReturnTheirCodes) {
  ::setenv("KESTRAVA_SECRET", "leaked", 1);
  auto p = provider();
  EXPECT_EQ(p.invoke("running", "StartService"), Value::integer(10));
  EXPECT_EQ(p.invoke("stopped", "StopService"), Value::integer(6));
  EXPECT_EQ(p.invoke("stopped", "startservice"), Value::integer(0));
  EXPECT_EQ(p.invoke("running", "StopService"), Value::integer(0));
  EXPECT_EQ(p.invoke("it's", "StartService"), Value::integer(0));
  EXPECT_EQ(p.invoke("denied", "StartService"), Value::integer(2));
  EXPECT_EQ(p.invoke("running", "PauseService"), Value::integer(1));
  EXPECT_EQ(p.invoke("running", "ResumeService"), Value::integer(1));
  const std::string calls = log();
  EXPECT_NE(calls.find("stopped 1 start PATH="), std::string::npos);
  EXPECT_NE(calls.find("running 1 stop PATH="), std::string::npos);
  EXPECT_NE(calls.find("it's 1 start PATH="), std::string::npos);
  EXPECT_EQ(calls.find("leaked"), std::string::npos);
  ::unsetenv("KESTRAVA_SECRET");
}

TEST_F(SysvFixture, AHangingStartIsCutOffAndKilled) {
  auto p = provider(std::chrono::seconds(5), std::chrono::milliseconds(300));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(p.invoke("hangs", "StartService"), Value::integer(8));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
  std::ifstream pidFile(dir_.path() / "hang.pid");
  pid_t pid = 0;
  ASSERT_TRUE(pidFile >> pid);
  EXPECT_NE(::kill(pid, 0), 0);  // killed and reaped, not left behind
}

TEST_F(SysvFixture, UnknownNamesAndMethodsFailClearly) {
  auto p = provider();
  for (const char* key :
       {"nonexistent", "../init.d/running", "README", "notexec", "subdir", "", "skeleton",
        "bad\xff"
        "name"}) {
    EXPECT_FALSE(p.get(key).has_value()) << key;
    try {
      p.invoke(key, "StartService");
      ADD_FAILURE() << "no error for " << key;
    } catch (const ComError& e) {
      EXPECT_EQ(e.number(), err::kWbemNotFound) << key;
    }
  }
  try {
    p.invoke("running", "Restart");
    ADD_FAILURE() << "no error for an unknown method";
  } catch (const ComError& e) {
    EXPECT_EQ(e.number(), err::kWbemInvalidMethod);
  }
  auto one = p.get("running");
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->get("State").asText(), "Running");
  EXPECT_EQ(one->path(), "Win32_Service='running'");
}

TEST(SysvProvider, AMissingFolderListsNothing) {
  SysvServiceProvider p(
      SysvOptions{"/nonexistent/init.d", std::chrono::seconds(1), std::chrono::seconds(1), "h"});
  size_t count = 0;
  p.enumerate(PropertySet::all(), [&](ManagementObject&&) { return ++count > 0; });
  EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace kestrava::service
